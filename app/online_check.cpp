#include "app/online_check.h"

#include <QNetworkInformation>
#include <QNetworkInterface>

bool SystemOnlineChecker::GoOnline() {
    if (QNetworkInformation::loadDefaultBackend() || QNetworkInformation::load(QNetworkInformation::Feature::Reachability)) {
        if (QNetworkInformation* info = QNetworkInformation::instance()) {
            const auto reachability = info->reachability();
            if (reachability != QNetworkInformation::Reachability::Unknown) {
                return reachability == QNetworkInformation::Reachability::Online ||
                       reachability == QNetworkInformation::Reachability::Site;
            }
        }
    }
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        if (!interface.addressEntries().isEmpty()) return true;
    }
    return false;
}
