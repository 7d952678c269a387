// The update feed parser. An update is only ever offered newer than the
// running version and with an https download address.
#include "fuzzsupport.h"

#include "updater.h"

#include <QUrl>

#if defined(__SANITIZE_ADDRESS__)
#define FEED_LEAKS_IGNORED
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FEED_LEAKS_IGNORED
#endif
#endif
#ifdef FEED_LEAKS_IGNORED
#include <sanitizer/lsan_interface.h>
#endif

GELV_FUZZ_TARGET
{
    static Updater updater;
    updater.setModuleVersion(QStringLiteral("1.0.0"));
    // Qt 5.15's JSON reader leaks the replaced value of a duplicated key
    // that holds an object or array; the feed parser itself keeps nothing.
#ifdef FEED_LEAKS_IGNORED
    __lsan_disable();
#endif
    updater.readFeed(FuzzSupport::bytes(data, size));
#ifdef FEED_LEAKS_IGNORED
    __lsan_enable();
#endif
    if (updater.updateAvailable()) {
        FuzzSupport::require(
            QUrl(updater.downloadUrl()).scheme() == QLatin1String("https"), "offer without https");
        FuzzSupport::require(
            Updater::compare(updater.latestVersion(), QStringLiteral("1.0.0")), "offer not newer");
    }
    return 0;
}
