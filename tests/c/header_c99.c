/* The public header must compile as strict C99. */
#include "CorvaneSDK.h"

int corvane_header_c99_check(void);
int corvane_header_c99_check(void) {
  CorvaneSDKManagerRef manager = CorvaneSDKManager_GetInstance();
  return manager == 0 ? CORVANE_EVENT_FLAG_EARLY : 0;
}
