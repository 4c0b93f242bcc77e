#include "Brivel/bills/bill_form_view_model.h"

namespace brivel {

void BillFormViewModel::resetForm() {
  name = "";
  cost = "";
  connectNote = false;
  note = "";
  connectCategory = false;
  pickedCategory = nullptr;
  connectBankAccount = false;
  pickedBankAccount = nullptr;
  occurring = 0;
  occurringQuarterly = 0;
  occurringYearly = 0;
}

}  // namespace brivel
