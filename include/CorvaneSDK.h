/*
 * Corvane SDK: the C interface of the desktop analytics library (corvane-sdk-cpp).
 *
 * Rules that hold for every function below:
 * - Threads: any host thread may call any function. Calls that take the manager run under one
 *   process-wide recursive lock; a callback may call back into the interface on its thread.
 * - Manager handle: pass what CorvaneSDKManager_GetInstance returns. A null, stale (after
 *   Destroy) or unknown handle is never dereferenced: the call logs "Corvane SDK Manager
 *   doesn't exist" at Error, with the function's name and what to call first, and returns
 *   its neutral result. Before initialization has finished the call logs "Corvane SDK
 *   Manager isn't initialized" the same way and returns the same.
 * - Neutral results: null for texts, -1 for the store type, 0 for other ints, nothing for
 *   void. No exception ever leaves a function; failures are logged.
 * - Texts are NUL-terminated UTF-8. A null text counts as "" unless a function says the
 *   call is ignored. Invalid UTF-8 is carried through; it is replaced by U+FFFD when sent.
 * - Returned texts are fresh copies that the caller owns and releases with the C runtime's
 *   free(). Two calls return two different pointers.
 * - Booleans are int: 0 is false, any other value true.
 * - Records made by a *_Create function are released by the matching *_Destroy, which
 *   accepts null.
 */
#ifndef CORVANE_SDK_H
#define CORVANE_SDK_H

#if defined(_WIN32)
#if defined(CORVANE_BUILDING_LIBRARY)
#define CORVANE_API __declspec(dllexport)
#elif defined(CORVANE_STATIC)
#define CORVANE_API
#else
#define CORVANE_API __declspec(dllimport)
#endif
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handles. */
typedef struct CorvaneSDKManagerOpaque* CorvaneSDKManagerRef;
typedef struct CorvaneSDKEventOpaque* CorvaneSDKEvent;
typedef struct InitializationDataOpaque InitializationData;
typedef struct ThirdPartySharingSettingsOpaque ThirdPartySharingSettings;

/* Callbacks. Texts passed to callbacks are valid only during the call. */
typedef void (*CorvaneSDKCompletionCallback)(int value);
typedef void (*CorvaneSDKLifecycleCallback)(int id);
typedef void (*CorvaneSDKTextCallback)(const char* text, int id);
typedef void (*CorvaneSDKSendEventCallback)(const char* eventName, const char* eventJson, int id);
typedef void (*CorvaneSDKRemoteConfigCallback)(const char* configJson, int value);
/* level: 0 Error, 1 Warning, 2 Info, 3 Debug, 4 Verbose. line: the finished log line without
 * a line end, valid only during the call. userData: as given to CorvaneSDKManager_SetLogCallback. */
typedef void (*CorvaneSDKLogCallback)(int level, const char* line, void* userData);

/* Event flags (CorvaneSDKEvent_SetFlag, CorvaneSDKManager_Log2 and the *2 variants). */
#define CORVANE_EVENT_FLAG_CLOSING 2   /* enqueued, then the manager accepts no more events */
#define CORVANE_EVENT_FLAG_CACHEABLE 4 /* held (up to 100) while the manager is not sending */
#define CORVANE_EVENT_FLAG_EARLY 8     /* enqueued even before the manager has started */

/* Store types. */
#define CORVANE_STORE_APP_STORE 0
#define CORVANE_STORE_GOOGLE_PLAY 1
#define CORVANE_STORE_AMAZON 2
#define CORVANE_STORE_MICROSOFT 3

/* Ad placement types and placements of the ad events. */
#define CORVANE_AD_BANNER 0
#define CORVANE_AD_INTERSTITIAL 1
#define CORVANE_AD_REWARDED_VIDEO 2
#define CORVANE_AD_PLACEMENT_DEFAULT (-1) /* "bottom" for a banner, else "fullscreen" */
#define CORVANE_AD_PLACEMENT_BOTTOM 0
#define CORVANE_AD_PLACEMENT_TOP 1
#define CORVANE_AD_PLACEMENT_LEFT 2
#define CORVANE_AD_PLACEMENT_RIGHT 3
#define CORVANE_AD_PLACEMENT_FULLSCREEN 4

/* Genders of CorvaneSDKManager_SetUserGender. */
#define CORVANE_GENDER_MALE 0
#define CORVANE_GENDER_FEMALE 1

/* ======================================================================================
 * Configuration record. Create it, set what you need, pass it to Initialize, destroy it
 * (at once is fine: the manager copies everything). Setters on a null record do nothing.
 * ====================================================================================== */

/* New record with the app id and secret (null counts as ""). Defaults: log level 1, app
 * version "0.0.1", build number "1", store type -1, max retries 3, initial retry interval
 * 500 ms, flush queue size 3, flush send size 50, queue check interval 500 ms, send delay
 * 1000 ms; auto start, save, send in background, SSL verify and URI-scheme registration on;
 * everything else off or empty. */
CORVANE_API InitializationData* InitializationData_Create(const char* appId, const char* appSecret);
CORVANE_API void InitializationData_Destroy(InitializationData* data);
/* 0 Error, 1 Warning (default), 2 Info, 3 Debug, 4 Verbose (also transfer traces, with
 * credentials masked). Becomes the process-wide level when the manager is built. */
CORVANE_API void InitializationData_SetLogLevel(InitializationData* data, int level);
/* Folder of the properties and queue files, used as given and created with its parents
 * (owner-only on POSIX). Empty: one folder per app, <base>\<appId> with the base
 * %LOCALAPPDATA%\CorvaneSDK on Windows, $XDG_DATA_HOME/CorvaneSDK or ~/.local/share/CorvaneSDK
 * on Linux; an app id that is not a plain file name (letters, digits, ".", "-", "_", at most
 * 64, no leading ".") uses "app-" and 16 hex digits of its SHA-256. Files an earlier version
 * left directly in the base move to the first app that starts, unless they name another app
 * (then they stay, with a Warning). No known base, a folder owned by another user or writable
 * by everyone (POSIX): nothing is saved this run (an Error is logged). Never a temp folder.
 * Two instances may share the folder: the second queues in a file of its own, sent by the next
 * instance that owns the folder. */
CORVANE_API void InitializationData_SetSavePath(InitializationData* data, const char* path);
CORVANE_API void InitializationData_SetCustomUserId(InitializationData* data, const char* id);
/* Config id stamped on events. Empty with custom config id off means "default". */
CORVANE_API void InitializationData_SetConfigId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetBundleId(InitializationData* data, const char* id);
/* Event ingestion URL; empty: https://events.corvane.io/v4/event */
CORVANE_API void InitializationData_SetHost(InitializationData* data, const char* url);
/* SDK config URL; empty: https://config.corvane.io/v1/public/config. When set, remote config
 * requests go to the same scheme, host and port with the path "/rc/fetch"; when empty, to
 * https://config.corvane.io/rc/fetch. */
CORVANE_API void InitializationData_SetConfigUrl(InitializationData* data, const char* url);
CORVANE_API void InitializationData_SetFacebookAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetInstagramAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetAppleAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetAppleSignInClientId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetAppleDeveloperTeamId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetGooglePlayGameServicesProjectId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetGooglePlayDeveloperAccountId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetLinkedInAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetQQAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetWeChatAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetTikTokAppId(InitializationData* data, const char* id);
CORVANE_API void InitializationData_SetSnapAppId(InitializationData* data, const char* id);
/* Engine wrapper name and version (e.g. "unity", "2022.3"), sent with every batch. */
CORVANE_API void InitializationData_SetWrapper(InitializationData* data, const char* name);
CORVANE_API void InitializationData_SetWrapperVersion(InitializationData* data, const char* version);
CORVANE_API void InitializationData_SetAppName(InitializationData* data, const char* name);
CORVANE_API void InitializationData_SetAppVersion(InitializationData* data, const char* version);
CORVANE_API void InitializationData_SetAppBuildNumber(InitializationData* data, const char* number);
/* CORVANE_STORE_*; any other value is sent as "other". */
CORVANE_API void InitializationData_SetStoreType(InitializationData* data, int storeType);
/* Upload retries after the first attempt (default 3; negative falls back to 3). */
CORVANE_API void InitializationData_SetMaxRetries(InitializationData* data, int retries);
/* First back-off in ms (default 500); later waits are 3x, 9x... capped at 5 minutes. */
CORVANE_API void InitializationData_SetInitialRetryInterval(InitializationData* data, int ms);
/* Upload as soon as this many events wait (default 3). */
CORVANE_API void InitializationData_SetFlushQueueSize(InitializationData* data, int count);
/* Most events in one upload (default 50; values below 1 fall back to 50). */
CORVANE_API void InitializationData_SetFlushSendSize(InitializationData* data, int count);
/* Sleep of the upload thread between checks in ms (default 500; below 1 falls back). */
CORVANE_API void InitializationData_SetQueueCheckInterval(InitializationData* data, int ms);
/* Wait after an upload before the next timed upload in ms (default 1000). */
CORVANE_API void InitializationData_SetSendDelay(InitializationData* data, int ms);
/* Longest time in ms that a queued event waits for the queue file to be synced to the disk
   (default 1000; 0: never synced, the OS writes it back in its own time; below 0 falls
   back). The event is in the file when the log call returns, so it survives the game being
   killed at once; the sync, done on an SDK thread at most once per interval while the file
   has changed, bounds what a power loss can take. */
CORVANE_API void InitializationData_SetQueueSyncInterval(InitializationData* data, int ms);
CORVANE_API void InitializationData_SetAutoStart(InitializationData* data, int on);
/* Keep the properties and queue files (default on). Off: nothing is written to disk. */
CORVANE_API void InitializationData_SetEnableSave(InitializationData* data, int on);
CORVANE_API void InitializationData_SetOffline(InitializationData* data, int on);
CORVANE_API void InitializationData_SetSendInBackground(InitializationData* data, int on);
/* Child-directed app: third-party sharing off. A change is reported once as
 * "qvsdk_third_party_sharing". */
CORVANE_API void InitializationData_SetEnableCoppa(InitializationData* data, int on);
CORVANE_API void InitializationData_SetDisableOnlineSdkConfig(InitializationData* data, int on);
/* On: an empty config id stays empty and events wait until CorvaneSDKManager_SetConfigId. */
CORVANE_API void InitializationData_SetCustomConfigId(InitializationData* data, int on);
CORVANE_API void InitializationData_SetRegisterURIScheme(InitializationData* data, int on);
/* Appends a URI scheme to register at first run (Windows: HKCU\SOFTWARE\Classes; Linux: a
 * desktop entry under $XDG_DATA_HOME/applications). Invalid schemes are skipped then. */
CORVANE_API void InitializationData_AddURIScheme(InitializationData* data, const char* scheme);
/* Module to create by its registered factory name; parameters are a JSON object text
 * (anything else counts as {}). An empty or null name is ignored. */
CORVANE_API void InitializationData_AddModule(InitializationData* data, const char* name, const char* parameters);
CORVANE_API void InitializationData_AddInitializationAction(InitializationData* data, int action, const char* parameters);
CORVANE_API void InitializationData_AddExcludedModuleName(InitializationData* data, const char* name);
CORVANE_API void InitializationData_SetSendProxy(InitializationData* data, const char* proxy);
CORVANE_API void InitializationData_SetSendProxyCertificateAuthority(InitializationData* data, const char* path);
CORVANE_API void InitializationData_SetSendCertificateAuthority(InitializationData* data, const char* path);
/* Peer verification of the endpoints (default on). Off wins over a CA file. */
CORVANE_API void InitializationData_SetSendSSLVerify(InitializationData* data, int on);
/* Collect identifiers that single out the machine (default on): the MAC address, the local
 * IP address and the machine-derived device id (Windows MachineGuid, Linux machine-id) in
 * the open event. Off leaves all three out of the device context and every event. COPPA on
 * (InitializationData_SetEnableCoppa) implies off. */
CORVANE_API void InitializationData_SetCollectDeviceIdentifiers(InitializationData* data, int on);
/* The app ships through Steam with this app id (0 counts as not a Steam build). */
CORVANE_API void InitializationData_SetSteamBuild(InitializationData* data, int steamAppId);
CORVANE_API void InitializationData_UnsetSteamBuild(InitializationData* data);

/* ======================================================================================
 * Event records built by the host. CorvaneSDKEvent_Get takes a record; the caller owns it
 * until it passes it to CorvaneSDKManager_LogEvent or _LogEventCache (which always take
 * ownership, also when they refuse the event). Setters on a null record do nothing.
 * ====================================================================================== */

/* New record named eventName; null for a null name. */
CORVANE_API CorvaneSDKEvent CorvaneSDKEvent_Get(const char* eventName);
/* Value becomes {"value": value}. */
CORVANE_API void CorvaneSDKEvent_SetIntValue(CorvaneSDKEvent event, int value);
/* Value becomes {"value": "<text>"}. */
CORVANE_API void CorvaneSDKEvent_SetStringValue(CorvaneSDKEvent event, const char* value);
/* Merges "key:value" lines (form-decoded: %XY and '+') into an object value. */
CORVANE_API void CorvaneSDKEvent_SetMapValue(CorvaneSDKEvent event, const char* map);
/* Value becomes the parsed JSON (at most 64 levels deep); invalid or empty text: null. */
CORVANE_API void CorvaneSDKEvent_SetJsonValue(CorvaneSDKEvent event, const char* json);
/* Sets "__revenue__": {"currency", "revenue"} in the value. An empty currency does nothing.
 * A value that is not an object (array, text, number) is replaced by an object holding only
 * the revenue block, with a Warning: revenue is never dropped. */
CORVANE_API void CorvaneSDKEvent_AddRevenueData(CorvaneSDKEvent event, double revenue, const char* currency);
/* Replaces the flags (CORVANE_EVENT_FLAG_*). */
CORVANE_API void CorvaneSDKEvent_SetFlag(CorvaneSDKEvent event, int flags);

/* ======================================================================================
 * Manager frame and lifecycle
 * ====================================================================================== */

/* The manager, or null. No check, no lock. */
CORVANE_API CorvaneSDKManagerRef CorvaneSDKManager_GetInstance(void);
/* Builds the manager from data (null: nothing happens) and starts initialization in the
 * background; returns at once. The completion callback runs once on an SDK thread when
 * initialization has finished (on the calling thread when online SDK config is disabled and
 * no initialization actions exist), with the given value (0 for _Initialize2). A second call
 * while initializing, or once initialized, does nothing. */
CORVANE_API void CorvaneSDKManager_Initialize(InitializationData* data);
CORVANE_API void CorvaneSDKManager_Initialize2(InitializationData* data, CorvaneSDKCompletionCallback callback);
CORVANE_API void CorvaneSDKManager_Initialize3(InitializationData* data, CorvaneSDKCompletionCallback callback, int value);
/* Stops the manager and releases it. Waits for the SDK's threads, bounded: an upload in
 * flight is cancelled; an initialization still running is abandoned after 10 s (its thread
 * then finishes without touching the freed manager). Refused (Error) from inside an SDK
 * callback. Queued events stay on disk for the next run. */
CORVANE_API void CorvaneSDKManager_Destroy(void);
CORVANE_API int CorvaneSDKManager_IsInitialized(CorvaneSDKManagerRef manager);
/* Starts a session (a new one after Stop) and sending. Runs the start callbacks. */
CORVANE_API void CorvaneSDKManager_Start(CorvaneSDKManagerRef manager);
/* Sends the pending open event, pauses sending, runs the stop callbacks. */
CORVANE_API void CorvaneSDKManager_Stop(CorvaneSDKManagerRef manager);
/* Offline: events keep being queued; only uploads stop. */
CORVANE_API void CorvaneSDKManager_SetOffline(CorvaneSDKManagerRef manager, int offline);
/* App lost / regained focus. A resume more than 30 s after the pause starts a new session.
 * Silently ignored without an initialized manager. */
CORVANE_API void CorvaneSDKManager_OnPause(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_OnResume(CorvaneSDKManagerRef manager);
/* Uploads what is queued now, for example before the game exits: ends the hold of a pending
 * open event (it and the events held with it enter the queue at once), skips the flush size
 * and send delay, and waits until the queue is empty or timeoutMs has passed (0 or negative:
 * no wait). Returns 1 when the queue is empty, else 0; what is left stays on disk for the
 * next run. Any thread; it waits without holding the interface lock, so callbacks keep
 * working. Returns 0 at once, with a Warning, when nothing can be uploaded: manager not
 * started, offline, empty config id, or called from inside an SDK callback. An upload that
 * is waiting to retry finishes its wait (at most the back-off of its retry). */
CORVANE_API int CorvaneSDKManager_Flush(CorvaneSDKManagerRef manager, int timeoutMs);
/* Routes every log line to callback instead of standard output; null restores standard
 * output. Process-wide, like the log level, and usable before Initialize (the level is
 * then 1, Warning, until a manager is built with its own). The callback may run on any SDK
 * thread, one call at a time; it is never called while the SDK holds one of its own locks
 * (lines logged under one are handed over right after it is released). Lines the callback
 * logs itself go to standard output. When this function returns, the previous callback is
 * no longer running (except when called from inside that callback), so its userData may be
 * freed. */
CORVANE_API void CorvaneSDKManager_SetLogCallback(CorvaneSDKLogCallback callback, void* userData);

/* Getters: fresh copies (free them), null on a failed check. */
CORVANE_API char* CorvaneSDKManager_GetAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetUserId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetSessionId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetHost(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetConfigUrl(CorvaneSDKManagerRef manager);
/* The stored SDK configuration as compact JSON, "" when none. */
CORVANE_API char* CorvaneSDKManager_GetSdkConfig(CorvaneSDKManagerRef manager);
/* -1 on a failed check. */
CORVANE_API int CorvaneSDKManager_GetStoreType(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetFacebookAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetInstagramAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetAppleAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetAppleSignInClientId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetAppleDeveloperTeamId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetGooglePlayGameServicesProjectId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetGooglePlayDeveloperAccountId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetLinkedInAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetQQAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetWeChatAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetTikTokAppId(CorvaneSDKManagerRef manager);
CORVANE_API char* CorvaneSDKManager_GetSnapAppId(CorvaneSDKManagerRef manager);
/* "0.0.17-cpp". Works without a manager. */
CORVANE_API char* CorvaneSDKManager_GetVersion(void);

/* Identity stamped on later events (null counts as ""). A non-empty config id lets a queue
 * that waited for one send. The advertising id goes into the next open event. */
CORVANE_API void CorvaneSDKManager_SetCustomUserId(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_SetConfigId(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_SetAdvertisingId(CorvaneSDKManagerRef manager, const char* id);

/* Offers a host-built event; ownership passes with the call, also when it is refused. */
CORVANE_API void CorvaneSDKManager_LogEvent(CorvaneSDKManagerRef manager, CorvaneSDKEvent event);
/* Like LogEvent, but usable before the manager exists: the event waits and is sent once the
 * manager has started (or at the first Start when auto start is off). */
CORVANE_API void CorvaneSDKManager_LogEventCache(CorvaneSDKEvent event);

/* ======================================================================================
 * Callbacks. Add stores the callback under id (replacing one stored under the same id);
 * Remove erases it. Both work before Initialize (kept until the manager is built) and are
 * forgotten by Destroy. Callbacks of a list run in ascending id order, on a snapshot, so a
 * callback may add or remove callbacks. Start/stop/pause/resume callbacks run on the calling
 * thread; the send-event callbacks run on the upload thread, once per event (and each of its
 * sub-events) when it first enters an upload, with the event name and its value as JSON.
 * ====================================================================================== */
CORVANE_API void CorvaneSDKManager_AddStartCallback(CorvaneSDKLifecycleCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemoveStartCallback(int id);
CORVANE_API void CorvaneSDKManager_AddStopCallback(CorvaneSDKLifecycleCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemoveStopCallback(int id);
CORVANE_API void CorvaneSDKManager_AddPauseCallback(CorvaneSDKLifecycleCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemovePauseCallback(int id);
CORVANE_API void CorvaneSDKManager_AddResumeCallback(CorvaneSDKLifecycleCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemoveResumeCallback(int id);
CORVANE_API void CorvaneSDKManager_AddDeepLinkCallback(CorvaneSDKTextCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemoveDeepLinkCallback(int id);
CORVANE_API void CorvaneSDKManager_AddPushTokenCallback(CorvaneSDKTextCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemovePushTokenCallback(int id);
CORVANE_API void CorvaneSDKManager_AddSendEventCallback(CorvaneSDKSendEventCallback callback, int id);
CORVANE_API void CorvaneSDKManager_RemoveSendEventCallback(int id);

/* ======================================================================================
 * Modules (see CorvaneSDKModule.h). The factory pointer is a CorvaneSDK::CorvaneSDKModuleFactory*.
 * ====================================================================================== */
/* Registers a factory under name (the first registration of a name stays). Null ignored. */
CORVANE_API void CorvaneSDKManager_RegisterModuleFactory(const char* name, void* factory);
/* Removes the registration; a non-zero deleteFactory deletes the factory too. */
CORVANE_API void CorvaneSDKManager_UnregisterModuleFactory(const char* name, int deleteFactory);
/* The first created module of that name (a CorvaneSDK::CorvaneSDKModule*), or null. */
CORVANE_API void* CorvaneSDKManager_GetModule(CorvaneSDKManagerRef manager, const char* name);

/* ======================================================================================
 * Deep links and push token. No manager check: before the manager exists the value is kept
 * and reported once initialization has finished.
 * ====================================================================================== */
/* Reports "qvsdk_deep_link" {"click_time": <Unix ms>, "url"} (held as a sub-event of the
 * open event while it waits) and runs the deep-link callbacks. Null ignored; "" ignored once
 * the manager exists. */
CORVANE_API void CorvaneSDKManager_OpenURL(const char* url);
CORVANE_API char* CorvaneSDKManager_GetDeepLinkUrl(void);
/* Reports "qvsdk_push_token" {"token"} when the token is new, and runs the push-token
 * callbacks. Null ignored. */
CORVANE_API void CorvaneSDKManager_SetPushToken(const char* token);
CORVANE_API char* CorvaneSDKManager_GetPushToken(void);

/* ======================================================================================
 * Privacy. The three requests and the settings report are not carried out on the desktop:
 * each logs "Unsupported feature: ..." at Info. COPPA (InitializationData_SetEnableCoppa)
 * and a stored forget-me flag are honoured.
 * ====================================================================================== */
CORVANE_API ThirdPartySharingSettings* ThirdPartySharingSettings_Create(void);
CORVANE_API void ThirdPartySharingSettings_Destroy(ThirdPartySharingSettings* settings);
/* Sets values[partner][key] = value when all three are non-empty; null ignored. */
CORVANE_API void ThirdPartySharingSettings_AddValue(ThirdPartySharingSettings* settings, const char* partner, const char* key, const char* value);
/* Sets flags[partner][key] when partner and key are non-empty; null ignored. */
CORVANE_API void ThirdPartySharingSettings_AddFlag(ThirdPartySharingSettings* settings, const char* partner, const char* key, int flag);
CORVANE_API void CorvaneSDKManager_GdprForgetMe(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_DisableThirdPartySharing(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_EnableThirdPartySharing(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogThirdPartySharingSettings(CorvaneSDKManagerRef manager, ThirdPartySharingSettings* settings);

/* ======================================================================================
 * Remote configuration. Returns at once; the callback runs once per started fetch on an SDK
 * thread with the configuration as compact JSON (the stored one when nothing new could be
 * fetched, "" when none) and the value (0 for FetchRemoteConfig). Ignored while a fetch
 * runs or before initialization has finished. The callback may be null.
 * ====================================================================================== */
CORVANE_API void CorvaneSDKManager_FetchRemoteConfig(CorvaneSDKManagerRef manager, CorvaneSDKRemoteConfigCallback callback);
CORVANE_API void CorvaneSDKManager_FetchRemoteConfig2(CorvaneSDKManagerRef manager, CorvaneSDKRemoteConfigCallback callback, int value);

#ifdef __cplusplus
}
#endif

#include "CorvaneSDKEvents.h"

#endif /* CORVANE_SDK_H */
