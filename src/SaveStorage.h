// The manager's files: the save folder with its lock, the persistent properties (user id,
// folder owner, stored configuration, privacy flags, the URI-scheme flag) read at
// construction, and the hand-over of queues other instances left, at initialization.
// Thread contract: Open, Load and RegisterUriSchemesOnce run on the constructing thread,
// AdoptOrphanQueues on the initialization step, Close at teardown; one at a time.
// Properties is thread-safe itself and may be used from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneSDK {

class Env;
class Identity;
class Properties;
class QueueManager;
class SaveFolder;
class SdkConfiguration;

class SaveStorage {
 public:
  // Null when no safe folder can be had (logged by SaveFolder): the run is memory-only.
  static std::unique_ptr<SaveStorage> Open(const std::string& configuredPath,
                                       const std::string& appId, Env& env);
  ~SaveStorage();
  SaveStorage(const SaveStorage&) = delete;
  SaveStorage& operator=(const SaveStorage&) = delete;

  const std::string& Path() const;
  const std::string& QueueFileName() const;
  // Whether this instance holds the folder lock.
  bool Exclusive() const;
  Properties& Props() { return *properties_; }

  // Reads the user id (decided under the file's lock, so two instances starting on a fresh
  // folder share one), records the folder's owner, the stored SDK configuration and privacy
  // flags. Returns whether this is the folder's first run.
  bool Load(Identity& identity, SdkConfiguration& config);
  // Registers the schemes once per properties file (flagged even when a write failed).
  void RegisterUriSchemesOnce(const std::vector<std::string>& schemes, int steamAppId);
  void SaveBool(const char* key, bool value);
  size_t AdoptOrphanQueues(QueueManager& queue);
  // Saves the properties and releases the folder, so that the next instance may take it.
  void Close();

 private:
  SaveStorage(std::unique_ptr<SaveFolder> folder, Env& env);

  Env& env_;
  std::unique_ptr<SaveFolder> folder_;  // outlives the queue's file
  std::unique_ptr<Properties> properties_;
};

}  // namespace CorvaneSDK
