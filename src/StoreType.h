// The labels sent as "store_type" for the public CORVANE_STORE_* constants: the one table.
#pragma once

#include "CorvaneSDK.h"

namespace CorvaneSDK {

inline const char* StoreTypeLabel(int storeType) {
  static const struct {
    int type;
    const char* label;
  } kStoreTypes[] = {
      {CORVANE_STORE_APP_STORE, "app_store"},
      {CORVANE_STORE_GOOGLE_PLAY, "google_play"},
      {CORVANE_STORE_AMAZON, "amazon_store"},
      {CORVANE_STORE_MICROSOFT, "microsoft_store"},
  };
  for (const auto& entry : kStoreTypes) {
    if (entry.type == storeType) return entry.label;
  }
  return "other";
}

}  // namespace CorvaneSDK
