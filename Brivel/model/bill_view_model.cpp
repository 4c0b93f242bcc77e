#include "Brivel/model/bill_view_model.h"

#include "Brivel/model/internal/legacy_suite.h"

namespace brivel {

BillViewModel::BillViewModel() { loadBillsCollection(); }

void BillViewModel::setBillsCollection(std::vector<Bill> bills) {
  billsCollection_.set(std::move(bills));
  saveBillsCollection();
}

void BillViewModel::loadBillsCollection() {
  auto data = internal::readLegacyData(userDefaultsKeysSuiteName,
                                       userDefaultsKeysBillsCollectionItems);
  if (!data) return;
  auto bills = decodeBills(*data);
  if (!bills) return;
  setBillsCollection(std::move(*bills));
}

void BillViewModel::saveBillsCollection() {
  auto data = encodeBills(billsCollection());
  if (!data) return;
  internal::writeLegacyData(userDefaultsKeysSuiteName, userDefaultsKeysBillsCollectionItems,
                            std::move(*data));
}

}  // namespace brivel
