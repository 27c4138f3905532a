#include "session/PasswordThrottle.h"

#include <algorithm>

int PasswordThrottle::delayMs(const QString& address, int connectionFailures) const
{
    int failures = connectionFailures;
    if (const auto known = addresses.constFind(address);
        known != addresses.cend() && clock.elapsed() - known->lastMs < forgetMs)
        failures = std::max(failures, known->failures);
    if (failures < freeTries)
        return 0;
    qint64 delay = firstDelayMs;
    for (int i = freeTries; i < failures && delay < maxDelayMs; ++i)
        delay *= 2;
    return static_cast<int>(std::min<qint64>(delay, maxDelayMs));
}

void PasswordThrottle::failed(const QString& address)
{
    const qint64 now = clock.elapsed();
    auto known = addresses.find(address);
    if (known == addresses.end()) {
        makeRoom();
        known = addresses.insert(address, {});
    } else if (now - known->lastMs >= forgetMs) {
        known->failures = 0;
    }
    known->failures = std::min(known->failures + 1, 1000);
    known->lastMs = now;
    known->order = ++failuresSeen;
}

void PasswordThrottle::makeRoom()
{
    const qint64 now = clock.elapsed();
    addresses.removeIf([&](QHash<QString, Record>::iterator it) { return now - it->lastMs >= forgetMs; });
    while (!addresses.isEmpty() && addresses.size() >= std::max(1, maxAddresses)) {
        auto quietest = addresses.begin();
        for (auto it = addresses.begin(); it != addresses.end(); ++it)
            if (it->order < quietest->order)
                quietest = it;
        addresses.erase(quietest);
    }
}
