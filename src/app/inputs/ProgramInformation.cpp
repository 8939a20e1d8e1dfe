#include "app/inputs/ProgramInformation.h"

#include "app/Version.h"
#include "protocol/ImporterCommandLine.h"

namespace korvane {

namespace {

// At most 80 columns, for a terminal.
constexpr const char* kUsage =
    R"(Uso: korvane -UTENTE <codice> -DITTA <ditta> -PIVA <partita IVA>
             [-TIPOSOGGETTO C|F] [-CODICESOGGETTO <codice>] [-APITOKEN <token>]
     korvane --controlla -UTENTE <codice> -DITTA <ditta> [-TIPOSOGGETTO C|F]
             [-PIVA <partita IVA>]
     korvane --lista <file> -UTENTE <codice> -DITTA <ditta> [-TIPOSOGGETTO C|F]
             [--anteprima] [--rapporto <file>] [--parallele K]
             [--max-richieste N] [--importa-presenti] [--eta-risposte N]
             [-APITOKEN <token>]
     korvane --aggiorna -UTENTE <codice> -DITTA <ditta> [-TIPOSOGGETTO C|F]
             --codici <file> | --tutti | --non-aggiornati-da N
             [--anteprima | --applica] [--rapporto <file>]
             [--campi-bloccati <file>] [--eta-risposte N] [--max-richieste N]
             [-APITOKEN <token>]
     korvane --help | -h | -?
     korvane --version

Crea in archivio un cliente o un fornitore con i dati che il registro delle
imprese restituisce per la partita IVA. Stampa un solo messaggio, terminato da
CR LF: il codice del nuovo soggetto, o il testo dell'errore (su più righe solo
dove lo è il testo del database o della libreria).

--controlla esegue gratis ogni passo che precede la richiesta a pagamento e
stampa una riga per controllo, "OK ..." o "ERRORE ...: <messaggio>": nulla è
scritto e al registro nessuna richiesta è inviata.

--lista importa ogni partita IVA di un file (una per riga, un CSV con ";" ","
o tabulazione e un'intestazione "Partita IVA", o un foglio .xlsx), una riga
dopo l'altra nella stessa sessione; un numero già in archivio è "già presente"
e non si paga. Scrive il rapporto (predefinito <file>.rapporto.csv accanto
alla lista) e le righe da riprovare, e stampa una riga di riepilogo. Ripetuto,
lo stesso comando riprende la lista: le righe concluse non sono richieste.
--anteprima dice che cosa si pagherebbe, senza richieste né scritture.
--max-richieste N ferma la lista dopo N richieste; --parallele K (da 1 a 16,
predefinito 4) richieste al registro insieme, le righe scritte nell'ordine.
Ogni risposta pagata resta nell'archivio delle risposte, e una ripresa la usa
senza pagare; --eta-risposte N usa anche quelle non più vecchie di N giorni.
--importa-presenti importa anche i numeri già in archivio, come dice
l'impostazione della ditta. SIGINT o SIGTERM fermano la lista dopo le righe
in corso: il resto "non tentata", il rapporto scritto, codice di uscita 3.

--aggiorna confronta i soggetti scelti (i codici di un file, ogni soggetto con
partita IVA italiana, o quelli non aggiornati da N giorni) con il registro: la
risposta nell'archivio delle risposte se non più vecchia di --eta-risposte
giorni (30 se non detto), altrimenti pagata (--max-richieste N al più) e
conservata. Scrive il rapporto delle differenze (predefinito
aggiornamento.rapporto.csv) e conserva il confronto: nulla è scritto in
archivio. --applica scrive senza pagare ciò che l'ultimo confronto mostrava:
un campo corretto a mano, uno che il registro non dà, uno bloccato
(--campi-bloccati, righe "<codice>;<campo>") non cambiano; senza la base di
korvane si riempiono solo i campi vuoti; una riga cambiata dopo il confronto
è "modificato nel frattempo". SIGINT o SIGTERM fermano l'aggiornamento dopo il
soggetto in corso: il rapporto scritto, codice di uscita 3.

Parametri (il nome in maiuscole o minuscole):
  -UTENTE <codice>          l'utente nel database degli utenti
  -DITTA <ditta>            la ditta: il parametro "Archivio" dell'utente per
                            la ditta indica l'archivio
  -PIVA <partita IVA>       lettere e cifre, ad esempio 01234567890 (spazi,
                            punti, trattini e un a capo finale sono tolti)
  -TIPOSOGGETTO C|F         C cliente (predefinito), F fornitore
  -CODICESOGGETTO <codice>  il codice del nuovo soggetto (altrimenti il codice
                            numerico più alto in archivio più uno)
  -APITOKEN <token>         il token del registro (meglio KORVANE_APITOKEN)
  -LINEA <testo>            accettato e non usato

Variabili d'ambiente:
  KORVANE_APITOKEN          il token del registro, al posto di -APITOKEN
  KORVANE_REGISTRY_URL      l'indirizzo del registro, seguito dalla partita IVA
                            (predefinito https://imprese.openapi.it/base/)
  KORVANE_DB_USER           l'utente dei database (predefinito: quello interno)
  KORVANE_DB_PASSWORD       la sua password (predefinita: quella interna)
  KORVANE_TRACE             un file in cui annotare i passi dell'esecuzione
  KORVANE_LEDGER            un file in cui registrare ogni richiesta al
                            registro (prima dell'invio) e il suo esito
  KORVANE_DAILY_LIMIT       quante richieste al registro al giorno, al più
                            (contate da KORVANE_LEDGER)
  KORVANE_ANSWER_STORE      l'archivio delle risposte delle liste (SQLite;
                            predefinito /var/lib/korvane/risposte.sqlite);
                            un'importazione singola vi scrive solo se è
                            impostata
  KORVANE_REQUEST_PRICE     il prezzo di una richiesta in euro, per
                            --anteprima (ad esempio 0,05)
  https_proxy, HTTPS_PROXY  il proxy web verso il registro (http://host:porta)
  no_proxy, NO_PROXY        gli host da raggiungere senza proxy
  SSL_CERT_FILE, SSL_CERT_DIR
                            i certificati delle autorità fidate (predefiniti
                            quelli del sistema)

Codici di uscita:
  0  il soggetto è in archivio: il messaggio è il suo codice
  1  nulla è stato scritto: il messaggio dice perché; ma dopo "Esito della
     scrittura non verificabile" il soggetto può essere in archivio:
     controllare prima di ripetere
  Con --lista: 0 ogni riga importata, già presente o duplicata; 2 alcune
  righe non importate (il rapporto dice quali); 3 lista fermata prima della
  fine (o, con --anteprima, oltre i limiti); 1 nulla è potuto iniziare
  Con --aggiorna, come con --lista: 2 se un soggetto non è concluso (non
  trovato, non riuscito, modificato nel frattempo, senza confronto)

Il database degli utenti è user/user.fdb nella cartella del programma, o in
quella superiore (con il pacchetto: /opt/korvane/user/user.fdb).
Il manuale: man korvane. La guida dell'amministratore, docs/amministratore.md,
è in share/doc/korvane nella cartella superiore a quella del programma (con il
pacchetto: /usr/share/doc/korvane/docs/amministratore.md).
)";

}  // namespace

std::optional<std::string> ProgramInformation(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return std::nullopt;
  const std::string& word = arguments.front();
  if (protocol::OneOf(protocol::kHelpWords, word)) return std::string(kUsage);
  if (word == protocol::kVersionWord) return VersionLine() + "\n";
  return std::nullopt;
}

std::string VersionLine() { return ProgramVersionLine("korvane"); }

}  // namespace korvane
