/*
 * Corvane SDK: the typed event functions. Included by CorvaneSDK.h; include that instead.
 *
 * Every function builds one event with the name and payload documented on it and offers it
 * to the manager. Common rules:
 * - Nothing happens for a null, stale or uninitialized manager (logged as in CorvaneSDK.h),
 *   nor when a text marked "required" is null.
 * - Payload keys are sent in byte order. Text members are left out when their text is empty
 *   (null counts as empty); numbers are always sent.
 * - "store_type" is the configured store type as "app_store", "google_play",
 *   "amazon_store", "microsoft_store" or "other".
 * - Events are dropped (not queued) while the manager is not started, except deep links
 *   (held) and push tokens (sent early); see CorvaneSDK.h.
 */
#ifndef CORVANE_SDK_EVENTS_H
#define CORVANE_SDK_EVENTS_H

#ifndef CORVANE_SDK_H
#error "Include CorvaneSDK.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Boot, levels, app ---------------------------------------------------------------- */
/* "qvsdk_boot_start", no payload. Also marks the time that LogBootEnd measures from. */
CORVANE_API void CorvaneSDKManager_LogBootStart(CorvaneSDKManagerRef manager);
/* "qvsdk_boot_end" {"boot_time": ms since the last LogBootStart (since the manager was
 * built when there was none)}. */
CORVANE_API void CorvaneSDKManager_LogBootEnd(CorvaneSDKManagerRef manager);
/* "qvsdk_level_attempt" {"label", "level"}. */
CORVANE_API void CorvaneSDKManager_LogLevelStart(CorvaneSDKManagerRef manager, int level, const char* label);
/* "qvsdk_level_complete" (success non-zero) or "qvsdk_level_fail" {"label", "level"}. */
CORVANE_API void CorvaneSDKManager_LogLevelEnd(CorvaneSDKManagerRef manager, int level, const char* label, int success);
/* "qvsdk_update_click" {"current_version": the app version, "new_version"}. */
CORVANE_API void CorvaneSDKManager_LogUpdateApp(CorvaneSDKManagerRef manager, const char* newVersion);
/* "qvsdk_store_rating_click" {"store_type"}. */
CORVANE_API void CorvaneSDKManager_LogRateApp(CorvaneSDKManagerRef manager);
/* "qvsdk_location" {"latitude", "longitude"}. */
CORVANE_API void CorvaneSDKManager_LogLocation(CorvaneSDKManagerRef manager, double latitude, double longitude);

/* ---- Ads -----------------------------------------------------------------------------
 * {"ad_unit", "placement", "placement_type"}: placement type 0 "banner", 1 "interstitial",
 * 2 "rewarded_video"; placement 0 "bottom", 1 "top", 2 "left", 3 "right", 4 "fullscreen";
 * other values send no member. The functions without "2" use placement -1: "bottom" for a
 * banner, "fullscreen" otherwise. Events "qvsdk_ad_load", "qvsdk_ad_close",
 * "qvsdk_ad_click", "qvsdk_ad_impression". */
CORVANE_API void CorvaneSDKManager_LogAdLoad(CorvaneSDKManagerRef manager, const char* adUnit, int placementType);
CORVANE_API void CorvaneSDKManager_LogAdLoad2(CorvaneSDKManagerRef manager, const char* adUnit, int placementType, int placement);
CORVANE_API void CorvaneSDKManager_LogAdClose(CorvaneSDKManagerRef manager, const char* adUnit, int placementType);
CORVANE_API void CorvaneSDKManager_LogAdClose2(CorvaneSDKManagerRef manager, const char* adUnit, int placementType, int placement);
CORVANE_API void CorvaneSDKManager_LogAdClick(CorvaneSDKManagerRef manager, const char* adUnit, int placementType);
CORVANE_API void CorvaneSDKManager_LogAdClick2(CorvaneSDKManagerRef manager, const char* adUnit, int placementType, int placement);
CORVANE_API void CorvaneSDKManager_LogAdImpression(CorvaneSDKManagerRef manager, const char* adUnit, int placementType);
CORVANE_API void CorvaneSDKManager_LogAdImpression2(CorvaneSDKManagerRef manager, const char* adUnit, int placementType, int placement);
/* "qvsdk_ad_revenue" {"currency" ("USD" when empty), "network", "network_data", "revenue",
 * "source"}. */
CORVANE_API void CorvaneSDKManager_LogAdRevenue(CorvaneSDKManagerRef manager, const char* source, double revenue);
CORVANE_API void CorvaneSDKManager_LogAdRevenue2(CorvaneSDKManagerRef manager, const char* source, double revenue, const char* currency);
CORVANE_API void CorvaneSDKManager_LogAdRevenue3(CorvaneSDKManagerRef manager, const char* source, double revenue, const char* currency, const char* network, const char* networkData);

/* ---- In-app purchases ----------------------------------------------------------------- */
/* "qvsdk_iap_initialization" {"status": "success" or "failed"}. */
CORVANE_API void CorvaneSDKManager_LogIAPInitialization(CorvaneSDKManagerRef manager, int success);
/* "qvsdk_iap_restore_purchase" {"store_type"}. */
CORVANE_API void CorvaneSDKManager_LogIAPRestorePurchase(CorvaneSDKManagerRef manager);
/* "qvsdk_iap_success_payment" (success non-zero) or "qvsdk_iap_fail_payment" {"amount",
 * "currency" ("USD" when empty), "pack", "price", "store_type"}. */
CORVANE_API void CorvaneSDKManager_LogIAPResult(CorvaneSDKManagerRef manager, const char* pack, double price, int amount, const char* currency, int success);
/* "qvsdk_iap_receipt" {"type": the store kind, plus the receipt members}. All texts are
 * required. */
/* {"receipt", "type": "apple"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Apple(CorvaneSDKManagerRef manager, const char* receipt);
/* {"data", "signature", "type": "google"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Google(CorvaneSDKManagerRef manager, const char* data, const char* signature);
/* {"receiptId", "type": "amazon", "userId"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Amazon(CorvaneSDKManagerRef manager, const char* userId, const char* receiptId);
/* {"receipt", "type": "roku"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Roku(CorvaneSDKManagerRef manager, const char* receipt);
/* {"receipt", "type": "windows"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Windows(CorvaneSDKManagerRef manager, const char* receipt);
/* {"receipt", "type": "facebook"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Facebook(CorvaneSDKManagerRef manager, const char* receipt);
/* {"receipt", "type": "unity"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_Unity(CorvaneSDKManagerRef manager, const char* receipt);
/* {"receipt", "type": "appStoreServer"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_AppStoreServer(CorvaneSDKManagerRef manager, const char* receipt);
/* {"packageName", "productId", "token", "type": "googlePlayProduct"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_GooglePlayProduct(CorvaneSDKManagerRef manager, const char* packageName, const char* productId, const char* token);
/* {"packageName", "subscriptionId", "token", "type": "googlePlaySubscription"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscription(CorvaneSDKManagerRef manager, const char* packageName, const char* subscriptionId, const char* token);
/* {"packageName", "token", "type": "googlePlaySubscriptionv2"} */
CORVANE_API void CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscriptionv2(CorvaneSDKManagerRef manager, const char* packageName, const char* token);

/* ---- Account links --------------------------------------------------------------------
 * "qvsdk_account_link" {"id", "scope_id", "scope_type", "type"} and "qvsdk_account_unlink"
 * {"type"}. id and type are required; without a scope id neither scope member is sent.
 * Provider functions send the provider's type: "google", "apple", "play_game_services",
 * "game_center", "facebook", "instagram", "linkedin", "meetup", "github", "discord",
 * "twitter", "spotify", "microsoft", "line", "vk", "qq", "wechat", "tiktok", "weibo".
 * Scoped provider functions take the scope id from the configured ids (which the SDK
 * configuration may replace):
 *   GameCenterGameLink: Apple app id, "game";  GameCenterTeamLink: Apple developer team id,
 *   "developer"; PlayGameServicesGameLink: Google Play Game Services project id, "game";
 *   PlayGameServicesDeveloperLink: Google Play developer account id, "developer";
 *   QQUnionLink / WeChatUnionLink: the QQ / WeChat app id, "union". */
CORVANE_API void CorvaneSDKManager_LogAccountLink(CorvaneSDKManagerRef manager, const char* id, const char* type);
CORVANE_API void CorvaneSDKManager_LogAccountLink2(CorvaneSDKManagerRef manager, const char* id, const char* type, const char* scopeId);
CORVANE_API void CorvaneSDKManager_LogAccountLink3(CorvaneSDKManagerRef manager, const char* id, const char* type, const char* scopeId, const char* scopeType);
/* {"type"}; type required. */
CORVANE_API void CorvaneSDKManager_LogAccountUnlink(CorvaneSDKManagerRef manager, const char* type);
CORVANE_API void CorvaneSDKManager_LogGoogleLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogAppleLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogPlayGameServicesLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogGameCenterLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogFacebookLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogInstagramLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogLinkedInLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogMeetupLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogGitHubLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogDiscordLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogTwitterLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogSpotifyLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogMicrosoftLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogLineLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogVKLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogQQLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogWeChatLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogTikTokLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogWeiboLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogGameCenterGameLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogGameCenterTeamLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogPlayGameServicesGameLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogPlayGameServicesDeveloperLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogQQUnionLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogWeChatUnionLink(CorvaneSDKManagerRef manager, const char* id);
CORVANE_API void CorvaneSDKManager_LogGoogleUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogAppleUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogPlayGameServicesUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogGameCenterUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogFacebookUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogInstagramUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogLinkedInUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogMeetupUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogGitHubUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogDiscordUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogTwitterUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogSpotifyUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogMicrosoftUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogLineUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogVKUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogQQUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogWeChatUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogTikTokUnlink(CorvaneSDKManagerRef manager);
CORVANE_API void CorvaneSDKManager_LogWeiboUnlink(CorvaneSDKManagerRef manager);

/* ---- User information -----------------------------------------------------------------
 * "qvsdk_user_info_add" / "qvsdk_user_info_remove" / "qvsdk_user_info_set" with one member
 * named after the field. Texts are required. */
/* {"phone": {"country_code", "number"}} */
CORVANE_API void CorvaneSDKManager_AddUserPhoneNumber(CorvaneSDKManagerRef manager, int countryCode, const char* number);
CORVANE_API void CorvaneSDKManager_RemoveUserPhoneNumber(CorvaneSDKManagerRef manager, int countryCode, const char* number);
/* {"email"} */
CORVANE_API void CorvaneSDKManager_AddUserEmail(CorvaneSDKManagerRef manager, const char* email);
CORVANE_API void CorvaneSDKManager_RemoveUserEmail(CorvaneSDKManagerRef manager, const char* email);
/* {"name"}, {"first_name"}, {"last_name"}, {"city"}, {"state"}, {"country"}, {"zip"} */
CORVANE_API void CorvaneSDKManager_SetUserName(CorvaneSDKManagerRef manager, const char* name);
CORVANE_API void CorvaneSDKManager_SetUserFirstName(CorvaneSDKManagerRef manager, const char* name);
CORVANE_API void CorvaneSDKManager_SetUserLastName(CorvaneSDKManagerRef manager, const char* name);
CORVANE_API void CorvaneSDKManager_SetUserCity(CorvaneSDKManagerRef manager, const char* city);
CORVANE_API void CorvaneSDKManager_SetUserState(CorvaneSDKManagerRef manager, const char* state);
CORVANE_API void CorvaneSDKManager_SetUserCountry(CorvaneSDKManagerRef manager, const char* country);
CORVANE_API void CorvaneSDKManager_SetUserZipCode(CorvaneSDKManagerRef manager, const char* zip);
/* {"dob": {"day", "month", "year"}}; _2 sends day and month; YearOfBirth sends year. */
CORVANE_API void CorvaneSDKManager_SetUserDateOfBirth(CorvaneSDKManagerRef manager, int day, int month, int year);
CORVANE_API void CorvaneSDKManager_SetUserDateOfBirth2(CorvaneSDKManagerRef manager, int day, int month);
CORVANE_API void CorvaneSDKManager_SetUserYearOfBirth(CorvaneSDKManagerRef manager, int year);
/* {"gender": "male" | "female"}; other values are ignored with a Warning. */
CORVANE_API void CorvaneSDKManager_SetUserGender(CorvaneSDKManagerRef manager, int gender);

/* ---- Wallets and crypto ---------------------------------------------------------------- */
/* "qvsdk_account_link_wallet" / "qvsdk_account_unlink_wallet" {"type" ("ethereum" when
 * empty), "wallet"}; wallet required. */
CORVANE_API void CorvaneSDKManager_LogWalletLink(CorvaneSDKManagerRef manager, const char* wallet);
CORVANE_API void CorvaneSDKManager_LogWalletLink2(CorvaneSDKManagerRef manager, const char* wallet, const char* type);
CORVANE_API void CorvaneSDKManager_LogWalletUnlink(CorvaneSDKManagerRef manager, const char* wallet);
CORVANE_API void CorvaneSDKManager_LogWalletUnlink2(CorvaneSDKManagerRef manager, const char* wallet, const char* type);
/* "qvsdk_crypto_payment" {"amount", "chain" ("ethereum" when empty), "currency" ("ETH" when
 * empty), "pack", "price"}. */
CORVANE_API void CorvaneSDKManager_LogCryptoPayment(CorvaneSDKManagerRef manager, const char* pack, double price, int amount);
CORVANE_API void CorvaneSDKManager_LogCryptoPayment2(CorvaneSDKManagerRef manager, const char* pack, double price, int amount, const char* currency);
CORVANE_API void CorvaneSDKManager_LogCryptoPayment3(CorvaneSDKManagerRef manager, const char* pack, double price, int amount, const char* currency, const char* chain);

/* ---- Custom events ---------------------------------------------------------------------
 * An event named name (required) with no value, or a value set like the matching
 * CorvaneSDKEvent_Set*Value. The "2" variants also set the event flags. */
CORVANE_API void CorvaneSDKManager_Log(CorvaneSDKManagerRef manager, const char* name);
CORVANE_API void CorvaneSDKManager_Log2(CorvaneSDKManagerRef manager, const char* name, int flags);
CORVANE_API void CorvaneSDKManager_LogWithIntValue(CorvaneSDKManagerRef manager, const char* name, int value);
CORVANE_API void CorvaneSDKManager_LogWithIntValue2(CorvaneSDKManagerRef manager, const char* name, int value, int flags);
CORVANE_API void CorvaneSDKManager_LogWithStringValue(CorvaneSDKManagerRef manager, const char* name, const char* value);
CORVANE_API void CorvaneSDKManager_LogWithStringValue2(CorvaneSDKManagerRef manager, const char* name, const char* value, int flags);
CORVANE_API void CorvaneSDKManager_LogWithJsonValue(CorvaneSDKManagerRef manager, const char* name, const char* json);
CORVANE_API void CorvaneSDKManager_LogWithJsonValue2(CorvaneSDKManagerRef manager, const char* name, const char* json, int flags);
CORVANE_API void CorvaneSDKManager_LogWithMapValue(CorvaneSDKManagerRef manager, const char* name, const char* map);
CORVANE_API void CorvaneSDKManager_LogWithMapValue2(CorvaneSDKManagerRef manager, const char* name, const char* map, int flags);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_SDK_EVENTS_H */
