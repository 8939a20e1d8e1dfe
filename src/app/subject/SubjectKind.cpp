#include "app/subject/SubjectKind.h"

namespace korvane {

namespace {

constexpr SubjectKind kCustomer{"CLIENTI",
                                "CaratteriRiempimentoClienti",
                                "PartitaIvaPresenteClienti",
                                "ImpresaCessataClienti",
                                "ColonnaCodiceDestinatarioClienti",
                                "ColonnaPecClienti",
                                "ColonnaImpresaCessataClienti"};
constexpr SubjectKind kSupplier{"FORNITO",
                                "CaratteriRiempimentoFornitori",
                                "PartitaIvaPresenteFornitori",
                                "ImpresaCessataFornitori",
                                "ColonnaCodiceDestinatarioFornitori",
                                "ColonnaPecFornitori",
                                "ColonnaImpresaCessataFornitori"};

}  // namespace

const SubjectKind& SubjectKindOf(TTipoSoggetto tipo) {
  return tipo == TTipoSoggetto::tsFornitore ? kSupplier : kCustomer;
}

}  // namespace korvane
