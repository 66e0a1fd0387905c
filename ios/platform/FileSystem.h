// The file-system port: the application-support and caches folders under a root the host (or
// a test) sets, whole-file atomic replace, read, remove, and the "exclude from backup" mark,
// which off Apple is only recorded. PosixFileSystem is real; FaultFileSystem injects failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe. Failures return false (or Missing/Failed) with a readable `error`.
class FileSystem {
 public:
  enum class Read { Ok, Missing, Failed };
  virtual ~FileSystem() = default;
  virtual std::string applicationSupportDirectory() = 0;
  virtual std::string cachesDirectory() = 0;
  virtual bool createDirectories(const std::string& path, std::string* error) = 0;
  // Writes a temp file beside `path`, syncs it and renames it over `path`: readers see the old
  // bytes or the new ones, never a part.
  virtual bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error) = 0;
  // Regular files only, at most kMaxReadBytes.
  virtual Read read(const std::string& path, std::string& out, std::string* error) = 0;
  virtual bool exists(const std::string& path) = 0;
  virtual bool removeFile(const std::string& path, std::string* error) = 0;
  // The folder and everything in it; a missing folder is not an error.
  virtual bool removeDirectory(const std::string& path, std::string* error) = 0;
  virtual bool setExcludedFromBackup(const std::string& path, bool excluded, std::string* error) = 0;
  virtual bool isExcludedFromBackup(const std::string& path) = 0;
  // Milliseconds since 1970 when `path` was created (its last change where the file system
  // keeps no birth time); none when unknown.
  virtual std::optional<int64_t> creationTimeMs(const std::string& path) = 0;

  static constexpr size_t kMaxReadBytes = 64u << 20;
};

class PosixFileSystem : public FileSystem {
 public:
  // `root` plays the home folder: "<root>/Library/Application Support" and "<root>/Library/Caches".
  explicit PosixFileSystem(std::string root);
  std::string applicationSupportDirectory() override;
  std::string cachesDirectory() override;
  bool createDirectories(const std::string& path, std::string* error) override;
  bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error) override;
  Read read(const std::string& path, std::string& out, std::string* error) override;
  bool exists(const std::string& path) override;
  bool removeFile(const std::string& path, std::string* error) override;
  bool removeDirectory(const std::string& path, std::string* error) override;
  bool setExcludedFromBackup(const std::string& path, bool excluded, std::string* error) override;
  bool isExcludedFromBackup(const std::string& path) override;
  std::optional<int64_t> creationTimeMs(const std::string& path) override;
  const std::string& root() const { return root_; }

  // $HOME, else the system temp folder.
  static std::string defaultRoot();

 private:
  std::string root_;
  std::mutex mutex_;
  std::set<std::string> excluded_;
};

// The double: every call goes to `inner` unless `failWhen(op, path)` answers true, in which
// case it fails with "injected fault". Ops: "write", "read", "remove", "removeDirectory",
// "createDirectories", "exclude".
class FaultFileSystem : public FileSystem {
 public:
  using Injector = std::function<bool(const std::string& op, const std::string& path)>;
  explicit FaultFileSystem(std::shared_ptr<FileSystem> inner) : inner_(std::move(inner)) {}
  void setInjector(Injector injector);
  std::string applicationSupportDirectory() override { return inner_->applicationSupportDirectory(); }
  std::string cachesDirectory() override { return inner_->cachesDirectory(); }
  bool createDirectories(const std::string& path, std::string* error) override;
  bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error) override;
  Read read(const std::string& path, std::string& out, std::string* error) override;
  bool exists(const std::string& path) override { return inner_->exists(path); }
  bool removeFile(const std::string& path, std::string* error) override;
  bool removeDirectory(const std::string& path, std::string* error) override;
  bool setExcludedFromBackup(const std::string& path, bool excluded, std::string* error) override;
  bool isExcludedFromBackup(const std::string& path) override { return inner_->isExcludedFromBackup(path); }
  std::optional<int64_t> creationTimeMs(const std::string& path) override { return inner_->creationTimeMs(path); }

 private:
  bool fails(const char* op, const std::string& path, std::string* error);
  std::shared_ptr<FileSystem> inner_;
  std::mutex mutex_;
  Injector injector_;
};

// Joins a folder and a last path component.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace Mobile
}  // namespace CorvaneSDK
