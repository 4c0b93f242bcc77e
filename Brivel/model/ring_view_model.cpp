#include "Brivel/model/ring_view_model.h"

#include "Brivel/model/internal/legacy_suite.h"

namespace brivel {

RingViewModel::RingViewModel() { loadRingCollection(); }

void RingViewModel::setRingCollection(std::vector<Ring> rings) {
  ringCollection_.set(std::move(rings));
  saveRingCollection();
}

void RingViewModel::loadRingCollection() {
  auto data = internal::readLegacyData(userDefaultsKeysSuiteName,
                                       userDefaultsKeysRingCollectionItems);
  if (!data) return;
  auto rings = decodeRings(*data);
  if (!rings) return;
  setRingCollection(std::move(*rings));
}

void RingViewModel::saveRingCollection() {
  auto data = encodeRings(ringCollection());
  if (!data) return;
  internal::writeLegacyData(userDefaultsKeysSuiteName, userDefaultsKeysRingCollectionItems,
                            std::move(*data));
}

}  // namespace brivel
