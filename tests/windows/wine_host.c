/* An outside Windows program built against the packaged SDK (headers and import library
 * only): it starts the manager without a save path, logs labelled events and prints
 * "L <label>" after each call returned, then "D"; it waits for stdin to close before it
 * destroys the manager. The scripts beside it run it under Wine.
 * CORVANE_HOST_LOG_LEVEL sets the SDK's log level (default 2, Info).
 * CORVANE_HOST_PAUSE_MS makes it wait that long after each call (the crash test kills it
 * while it logs).
 * Usage: wine_host BASE_URL COUNT PREFIX [CA_FILE] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "CorvaneSDK.h"

static volatile int g_started = 0;
static void OnStart(int unused) {
  (void)unused;
  g_started = 1;
}


int main(int argc, char** argv) {
  char url[512];
  char label[128];
  char buffer[256];
  int count, i, waited, pauseMs;
  CorvaneSDKManagerRef manager;
  InitializationData* data;
  if (argc < 4) {
    fprintf(stderr, "usage: wine_host BASE_URL COUNT PREFIX [CA_FILE]\n");
    return 2;
  }
  count = atoi(argv[2]);
  pauseMs = getenv("CORVANE_HOST_PAUSE_MS") != NULL ? atoi(getenv("CORVANE_HOST_PAUSE_MS")) : 0;
  CorvaneSDKManager_AddStartCallback(OnStart, 1);
  data = InitializationData_Create("win-app", "win-secret");
  snprintf(url, sizeof(url), "%s/v4/event", argv[1]);
  InitializationData_SetHost(data, url);
  snprintf(url, sizeof(url), "%s/v1/public/config", argv[1]);
  InitializationData_SetConfigUrl(data, url);
  InitializationData_SetDisableOnlineSdkConfig(data, 1);
  InitializationData_AddURIScheme(data, "corvanewine");
  InitializationData_SetQueueCheckInterval(data, 100);
  InitializationData_SetLogLevel(data, getenv("CORVANE_HOST_LOG_LEVEL") != NULL ? atoi(getenv("CORVANE_HOST_LOG_LEVEL")) : 2);
  if (argc > 4) InitializationData_SetSendCertificateAuthority(data, argv[4]);
  CorvaneSDKManager_Initialize(data);
  InitializationData_Destroy(data);
  for (waited = 0; waited < 20000 && !g_started; ++waited) Sleep(1);
  manager = CorvaneSDKManager_GetInstance();
  if (manager == NULL) {
    printf("E no manager\n");
    return 3;
  }
  printf("R\n");
  fflush(stdout);
  for (i = 0; i < count; ++i) {
    CorvaneSDKEvent event = CorvaneSDKEvent_Get("crash_label");
    snprintf(label, sizeof(label), "%s%d", argv[3], i);
    CorvaneSDKEvent_SetStringValue(event, label);
    CorvaneSDKManager_LogEvent(manager, event);
    printf("L %s\n", label);
    fflush(stdout);
    if (pauseMs > 0) Sleep((DWORD)pauseMs);
  }
  printf("D\n");
  fflush(stdout);
  while (fgets(buffer, sizeof(buffer), stdin) != NULL) {
  }
  CorvaneSDKManager_Destroy();
  return 0;
}
