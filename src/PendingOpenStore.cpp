#include "PendingOpenStore.h"

#include "FileIO.h"
#include "Logger.h"

namespace CorvaneSDK {

PendingOpenStore::PendingOpenStore(const std::string& folder)
    : path_(JoinPath(folder, kFileName)), stored_(true) {}

bool PendingOpenStore::Save(const std::string& eventText) {
  if (!WriteFileAtomically(path_, eventText)) {
    CORVANE_LOG_WARNING("Cannot write " << path_ << "; the open event lives in memory only");
    return false;
  }
  stored_ = true;
  return true;
}

void PendingOpenStore::Clear() {
  if (!stored_) return;
  if (RemoveFile(path_)) {
    stored_ = false;
  } else {
    CORVANE_LOG_WARNING("Cannot remove " << path_);
  }
}

std::string PendingOpenStore::LeftOver() const {
  std::string text;
  if (!FileExists(path_)) return text;
  if (!ReadWholeFile(path_, text, kMaxBytes)) {
    CORVANE_LOG_WARNING("Cannot read " << path_ << "; the open event it held is lost");
    text.clear();
  }
  return text;
}

}  // namespace CorvaneSDK
