// Save folder: the default per-app folder, adoption of the files an earlier version kept in
// the shared base folder, the folder lock, and the take-over of per-process queue files.
#include "SaveFolder.h"

#include <algorithm>
#include <set>

#include "Env.h"
#include "Crypto.h"
#include "FileIO.h"
#include "FileLock.h"
#include "Json.h"
#include "Logger.h"
#include "Properties.h"
#include "QueueFile.h"
#include "QueueManager.h"
#include "Utils.h"

namespace CorvaneSDK {
namespace {

// Per-process queue files tried before giving up (a pid reused while an old file of it is
// being taken over).
constexpr int kQueueNameTries = 16;

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Files an earlier version kept directly in the base folder, shared by every app, move into
// this app's folder unless their properties name another app. The properties are claimed
// (the app id written into them) before anything moves, so a crash half-way leaves the rest
// to the same app.
void AdoptLegacyFiles(const std::string& base, const std::string& folder, const std::string& appId) {
  const std::string oldQueue = JoinPath(base, SaveFolder::kQueueFileName);
  const std::string oldProperties = JoinPath(base, SaveFolder::kPropertiesFileName);
  const bool hasQueue = RegularFileSize(oldQueue) >= 0;
  const bool hasProperties = RegularFileSize(oldProperties) >= 0;
  if (!hasQueue && !hasProperties) return;
  // Apps starting together take turns.
  std::unique_ptr<FileLock> lock = FileLock::Acquire(JoinPath(base, SaveFolder::kLockFileName), 1000);
  if (!lock) {
    CORVANE_LOG_WARNING("The folder " << base << " is busy; its files are looked at next start");
    return;
  }
  if (hasProperties) {
    std::string text;
    Json values;
    if (!ReadWholeFile(oldProperties, text, Properties::kMaxFileBytes) || !ParseJson(text, values) ||
        !values.is_object()) {
      values = Json::object();
    }
    const std::string owner = JsonString(values, "appId");
    if (!owner.empty() && owner != appId) {
      CORVANE_LOG_WARNING("Leaving the files in " << base << " alone: they belong to the app "
                                                   << owner);
      return;
    }
    if (owner.empty()) {
      values["appId"] = appId;
      if (!WriteFileAtomically(oldProperties, DumpJson(values) + "\n")) {
        CORVANE_LOG_WARNING("Cannot claim the files in " << base << "; they are looked at next start");
        return;
      }
    }
  }
  for (const char* name : {SaveFolder::kQueueFileName, SaveFolder::kPropertiesFileName}) {
    const std::string from = JoinPath(base, name);
    if (RegularFileSize(from) < 0) continue;
    const std::string to = JoinPath(folder, name);
    if (RenameNoReplace(from, to)) {
      CORVANE_LOG_INFO("Moved " << from << " to " << to);
    } else {
      CORVANE_LOG_WARNING("Cannot move " << from << " to " << to << " (it may exist already)");
    }
  }
}

}  // namespace

std::string AppFolderName(const std::string& appId) {
  static const char* const kDeviceNames[] = {"con", "prn", "aux", "nul", "com1", "com2", "com3",
                                             "com4", "com5", "com6", "com7", "com8", "com9",
                                             "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6",
                                             "lpt7", "lpt8", "lpt9"};
  bool plain = !appId.empty() && appId.size() <= 64 && appId[0] != '.';
  for (char c : appId) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) plain = false;
  }
  if (plain) {
    std::string stem = appId.substr(0, appId.find('.'));
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    for (const char* device : kDeviceNames) {
      if (stem == device) plain = false;
    }
    // Windows drops trailing dots, which would merge two ids.
    if (appId.back() == '.') plain = false;
  }
  if (plain) return appId;
  return "app-" + ToHex(Sha256(appId)).substr(0, 16);
}

bool IsProcessQueueFileName(const std::string& name) {
  const std::string prefix = std::string(SaveFolder::kQueueFileName) + ".";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = name.substr(prefix.size());
  if (rest[0] < '0' || rest[0] > '9') return false;
  return std::all_of(rest.begin(), rest.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

std::unique_ptr<SaveFolder> SaveFolder::Open(const std::string& configured,
                                             const std::string& appId, Env& env) {
  try {
    std::string base;
    std::string path = configured;
    if (path.empty()) {
      base = Utils::GetDefaultSaveFolder();
      if (base.empty()) {
        CORVANE_LOG_ERROR("No folder to save in; events are kept in memory only");
        return nullptr;
      }
      path = JoinPath(base, AppFolderName(appId));
    }
    std::string why;
    for (const std::string& folder : {base, path}) {
      if (folder.empty()) continue;
      if (!Utils::CreateFolder(folder)) {
        CORVANE_LOG_ERROR("Cannot create the save folder " << folder
                                                           << "; events are kept in memory only");
        return nullptr;
      }
      if (!detail::IsSafeFolder(folder, &why)) {
        CORVANE_LOG_ERROR("Refusing the save folder " << folder << ": " << why
                                                      << "; events are kept in memory only");
        return nullptr;
      }
      // The default folders are ours alone; a host's own folder is left as the host made it.
      if (!base.empty()) detail::MakePrivate(folder);
    }
    if (!base.empty()) AdoptLegacyFiles(base, path, appId);

    std::unique_ptr<SaveFolder> folder(new SaveFolder(env));
    folder->path_ = path;
    folder->folderLock_ = FileLock::TryAcquire(JoinPath(path, kLockFileName));
    if (folder->folderLock_) return folder;
    const std::string pid = std::to_string(detail::CurrentProcessId());
    for (int i = 0; i < kQueueNameTries && !folder->queueLock_; ++i) {
      const std::string name =
          std::string(kQueueFileName) + "." + pid + (i == 0 ? "" : "-" + std::to_string(i));
      folder->queueLock_ = FileLock::TryAcquire(JoinPath(path, name + ".lock"));
      if (folder->queueLock_) folder->queueFileName_ = name;
    }
    if (folder->queueLock_) {
      CORVANE_LOG_WARNING("Another instance holds the save folder "
                          << path << "; this one queues its events in " << folder->queueFileName_);
    } else {
      // Nothing can be locked: the folder is most likely read-only, and the queue file will
      // not open either.
      CORVANE_LOG_WARNING("Cannot lock the save folder " << path);
    }
    return folder;
  } catch (...) {
    CORVANE_LOG_ERROR("Cannot prepare the save folder; events are kept in memory only");
    return nullptr;
  }
}

SaveFolder::SaveFolder(Env& env) : env_(env) {}

SaveFolder::~SaveFolder() { Release(); }

bool SaveFolder::Exclusive() const { return folderLock_ != nullptr; }

void SaveFolder::Release() {
  folderLock_.reset();
  // The queue file stays for the next holder of the folder; its lock file is not needed.
  if (queueLock_) queueLock_->RemoveAndRelease();
  queueLock_.reset();
}

size_t SaveFolder::AdoptOrphanQueues(QueueManager& queue) {
  if (!folderLock_) return 0;
  size_t adopted = 0;
  try {
    std::vector<std::string> names = detail::ListFolder(path_);
    std::sort(names.begin(), names.end());
    std::set<std::string> known;  // eIds already queued
    bool knownLoaded = false;
    for (const std::string& name : names) {
      const bool isLock = EndsWith(name, ".lock");
      const std::string queueName = isLock ? name.substr(0, name.size() - 5) : name;
      if (!IsProcessQueueFileName(queueName)) continue;
      const std::string queuePath = JoinPath(path_, queueName);
      if (isLock && FileExists(queuePath)) continue;  // handled with its queue file
      std::unique_ptr<FileLock> lock = FileLock::TryAcquire(queuePath + ".lock");
      if (!lock) continue;  // its instance is still running
      if (isLock) {
        lock->RemoveAndRelease();
        continue;
      }
      if (RegularFileSize(queuePath) < 0) {
        CORVANE_LOG_WARNING("Ignoring " << queuePath << ": not a regular file");
        continue;
      }
      std::vector<std::string> texts;
      std::string why;
      bool whole;
      {
        QueueFile file(queuePath);
        if (!file.Init()) {
          CORVANE_LOG_WARNING("Cannot open " << queuePath << "; it is tried again next start");
          continue;
        }
        whole = file.ValidateHeader(&why) && file.ReadAll(texts, &why);
        file.Close();
      }
      if (!knownLoaded) {
        for (const std::string& text : queue.Texts()) {
          Json parsed;
          if (ParseEventText(text, parsed)) known.insert(JsonString(parsed, "eId"));
        }
        knownLoaded = true;
      }
      std::vector<std::string> fresh;
      for (std::string& text : texts) {
        Json parsed;
        if (!ParseEventText(text, parsed) || !parsed.is_object()) continue;
        const std::string eId = JsonString(parsed, "eId");
        // Already taken over by a start that died before it could delete the file.
        if (!eId.empty() && !known.insert(eId).second) continue;
        fresh.push_back(std::move(text));
      }
      if (!queue.ImportEvents(fresh)) {
        CORVANE_LOG_WARNING("Keeping " << queuePath << ": its events are not in the queue file");
        continue;
      }
      adopted += fresh.size();
      if (whole) {
        RemoveFile(queuePath);
      } else {
        // What could not be walked stays on disk for inspection, out of the way.
        CORVANE_LOG_WARNING("Queue file " << queuePath << " is damaged (" << why << ")");
        RenameNoReplace(queuePath,
                        queuePath + ".corrupt-" + std::to_string(env_.GetClock().WallMs()));
      }
      lock->RemoveAndRelease();
      CORVANE_LOG_INFO("Took over " << fresh.size() << " events from " << queuePath);
    }
  } catch (...) {
    CORVANE_LOG_ERROR("Taking over the queue files of other instances failed");
  }
  return adopted;
}

}  // namespace CorvaneSDK
