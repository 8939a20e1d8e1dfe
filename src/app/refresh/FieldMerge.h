#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace korvane {

// What a refresh does with one field of a stored subject, and the word its report uses.
enum class MergeAction {
  Same,           // "invariato": the archive already holds the registry's value
  Updated,        // "aggiornato": the archive held what korvane wrote last, the registry gives another
  Filled,         // "compilato": the archive was empty
  HandCorrected,  // "corretto a mano": the archive differs from what korvane wrote; kept
  NotBlanked,     // "non svuotato": the registry gives nothing; the archive's value is kept
  NoBase,         // "senza base": korvane never wrote this subject; only empty fields are filled
  Locked,         // "bloccato": the firm locked the field; only reported
};

std::string_view MergeActionWord(MergeAction action);
// The action a word names; nothing for a word that names none.
std::optional<MergeAction> MergeActionOfWord(std::string_view word);
// Whether the action changes the archive.
bool MergeWrites(MergeAction action);

// The three values of one field. `base` is what korvane wrote last (none when it never wrote the
// subject); `registry` is what an import would write today (none when the answer gives nothing).
// The values are compared as given: the caller trims what the archive pads.
struct FieldValues {
  std::optional<std::string> base;
  std::string archive;
  std::optional<std::string> registry;
  bool locked = false;
};

// The three-way merge of one field. A person's correction is never overwritten, a value is never
// blanked, and a subject without a base only gets its empty fields filled.
MergeAction MergeField(const FieldValues& values);

// How the registry gives a company's activity. A company that is not active is never deleted and
// changed only as any other by the merge; the report lists it apart.
enum class CompanyActivity { Active, Ceased, Suspended, InLiquidation };

// The activity for the registry's status text, letter case and blanks around it ignored: "CESSATA",
// "SOSPESA" and "IN LIQUIDAZIONE" (or "LIQUIDAZIONE"); any other text, or none, is active.
CompanyActivity ActivityOf(std::string_view status);
std::string_view ActivityWord(CompanyActivity activity);
// What the company's column for the mark receives: the activity's word in capitals ("CESSATA",
// "SOSPESA", "IN LIQUIDAZIONE"; kActivityMarkLength characters at most), nothing for an active
// company, whose mark is never taken away (the merge never blanks a value).
std::optional<std::string> ActivityMark(CompanyActivity activity);
inline constexpr int kActivityMarkLength = 15;

// The recipient code that leaves the invoice to the PEC: any other code makes the PEC optional.
inline constexpr std::string_view kPecRecipientCode = "0000000";

bool PecRequired(std::string_view recipientCode);
// Whether the archive's pair contradicts itself: a PEC beside a recipient code other than
// kPecRecipientCode, so that the invoices go to the code and the PEC is dead weight or stale.
bool RecipientPairInconsistent(std::string_view recipientCode, std::string_view pec);

// The fields a firm has locked for good, read from a file of lines "<code>;<field>" (the subject's
// code as written in the archive, the column name in any letter case). Blank lines and lines that
// start with "#" are ignored; blanks around each part are ignored. Raises "File dei campi bloccati
// non leggibile (<path>: <reason>)" and, for a line without both parts, "File dei campi bloccati
// non valido (<path>, riga <n>)".
class FieldLocks {
 public:
  FieldLocks() = default;
  static FieldLocks FromText(std::string_view text, const std::string& path);
  static FieldLocks FromFile(const std::string& path);

  bool Locked(std::string_view code, std::string_view field) const;
  bool Empty() const { return locks_.empty(); }

 private:
  std::set<std::pair<std::string, std::string>, std::less<>> locks_;
};

}  // namespace korvane
