// The application port: state, background tasks and the app's delegate (UIApplication on
// Apple). SettableApplication is both the portable implementation, driven by the host
// program, and the test double.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

using BackgroundTaskIdentifier = uint64_t;
constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

// The host's application delegate; the delegate hook defines what it can answer.
class ApplicationDelegate;

using DelegateObserver =
    std::function<void(const std::shared_ptr<ApplicationDelegate>& previous,
                       const std::shared_ptr<ApplicationDelegate>& current)>;

class ApplicationPort {
 public:
  virtual ~ApplicationPort() = default;
  virtual ApplicationState applicationState() = 0;
  // Returns kInvalidBackgroundTask when the platform grants none. The expiration handler may
  // run on any thread and must end the task.
  virtual BackgroundTaskIdentifier beginBackgroundTask(const std::string& name,
                                                       std::function<void()> expirationHandler) = 0;
  virtual void endBackgroundTask(BackgroundTaskIdentifier identifier) = 0;
  virtual std::shared_ptr<ApplicationDelegate> delegate() = 0;
  virtual void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) = 0;
  // Observers hear every replacement of the delegate (key-value observing on Apple). They are
  // called on the thread that sets the delegate, outside the port's lock.
  virtual int addDelegateObserver(DelegateObserver observer) = 0;
  virtual void removeDelegateObserver(int token) = 0;
};

class SettableApplication : public ApplicationPort {
 public:
  ApplicationState applicationState() override;
  void setApplicationState(ApplicationState state);

  BackgroundTaskIdentifier beginBackgroundTask(const std::string& name,
                                               std::function<void()> expirationHandler) override;
  void endBackgroundTask(BackgroundTaskIdentifier identifier) override;
  // When off, beginBackgroundTask answers kInvalidBackgroundTask.
  void setGrantsBackgroundTasks(bool grants);
  // Tasks begun and not yet ended, by identifier, with their names.
  std::map<BackgroundTaskIdentifier, std::string> openBackgroundTasks();
  int backgroundTasksBegun();
  int backgroundTasksEnded();
  // Runs the expiration handlers of every open task, as the platform does when time runs out.
  void expireBackgroundTasks();

  std::shared_ptr<ApplicationDelegate> delegate() override;
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) override;
  int addDelegateObserver(DelegateObserver observer) override;
  void removeDelegateObserver(int token) override;

 private:
  std::mutex mutex_;
  ApplicationState state_ = ApplicationState::Active;
  bool grants_ = true;
  BackgroundTaskIdentifier nextTask_ = 1;
  std::map<BackgroundTaskIdentifier, std::pair<std::string, std::function<void()>>> open_;
  int begun_ = 0;
  int ended_ = 0;
  std::shared_ptr<ApplicationDelegate> delegate_;
  int nextObserver_ = 1;
  std::map<int, DelegateObserver> observers_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
