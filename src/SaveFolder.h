// The save folder: where the properties file and the queue file live, who owns it, and what
// an earlier run or another instance left in it. One folder per app by default; the folder
// is created owner-only and refused when it is not safe; one instance at a time holds it
// (the folder lock), and another instance of the same app queues into a file of its own,
// which the next holder of the folder takes over.
// Thread contract: one thread at a time (the manager's construction, initialization and
// teardown).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace CorvaneSDK {

class Env;
class FileLock;
class QueueManager;

class SaveFolder {
 public:
  static constexpr const char* kQueueFileName = ".event_queue";
  static constexpr const char* kPropertiesFileName = ".properties";
  static constexpr const char* kLockFileName = ".lock";

  // `configured` (the host's save path, used as given) or, when empty, the default folder
  // for `appId` below Utils::GetDefaultSaveFolder(), where the files an earlier version left
  // in the base are adopted first. Creates the folder and checks it (POSIX: a folder owned
  // by another user or writable by others is refused), then takes the folder lock or, when
  // another instance holds it, a queue file of this process. Null, with an Error logged,
  // when no safe folder can be had: the run is then memory-only. The clock of `env` (it
  // outlives the folder) names the copies set aside.
  static std::unique_ptr<SaveFolder> Open(const std::string& configured, const std::string& appId,
                                          Env& env);
  ~SaveFolder();
  SaveFolder(const SaveFolder&) = delete;
  SaveFolder& operator=(const SaveFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Whether this instance holds the folder lock.
  bool Exclusive() const;
  // ".event_queue" for the holder of the folder lock, ".event_queue.<pid>" otherwise.
  const std::string& QueueFileName() const { return queueFileName_; }

  // Holder of the folder lock only: hands the events of every per-process queue file whose
  // instance has ended to `queue`, file by file, skipping events it already holds (by
  // "eId"), and deletes each file once its events are in the queue's own file. Returns the
  // number of events taken over.
  size_t AdoptOrphanQueues(QueueManager& queue);

  // Releases the locks; the files stay. Called when the queue file is closed.
  void Release();

 private:
  explicit SaveFolder(Env& env);

  Env& env_;
  std::string path_;
  std::string queueFileName_ = kQueueFileName;
  std::unique_ptr<FileLock> folderLock_;  // held by the owner of the folder
  std::unique_ptr<FileLock> queueLock_;   // held by another instance, for its own queue file
};

// The folder name for an app id: the id itself when it is a plain name (ASCII letters,
// digits, ".", "-", "_"; at most 64 characters; not starting with "."; not a Windows device
// name), else "app-" and the first 16 hex digits of its SHA-256.
std::string AppFolderName(const std::string& appId);

// Whether a name in the save folder is a per-process queue file (".event_queue.<pid>" or
// ".event_queue.<pid>-<n>").
bool IsProcessQueueFileName(const std::string& name);

namespace detail {
// True when `path` is a folder this user may trust: POSIX: owned by the effective user and
// not writable by others. The reason goes to *why otherwise.
bool IsSafeFolder(const std::string& path, std::string* why);
// POSIX: takes group and other access away from a folder of ours (an earlier version created
// them readable by all). Windows: nothing.
void MakePrivate(const std::string& path);
// Names in the folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);
long CurrentProcessId();
}  // namespace detail

}  // namespace CorvaneSDK
