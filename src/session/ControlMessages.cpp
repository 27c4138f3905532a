#include "session/ControlMessages.h"

#include <QLatin1String>

#include <array>

namespace {

struct Entry {
    QLatin1String name;
    bool wholeText; // the message is exactly the name, else it starts with it
    ControlMessages::Kind kind;
    bool beforeLogin;
    bool extension;
};

using Kind = ControlMessages::Kind;

// No name is the start of another, so the order does not decide between entries.
const std::array<Entry, 18> kTable = {{
    {QLatin1String("FTIMEOUT"), true, Kind::TransferNotice, false, false},
    {QLatin1String("CANC_TRAN"), true, Kind::TransferNotice, false, false},
    {QLatin1String("HaveFile"), true, Kind::TransferNotice, false, false},
    {QLatin1String("PSOK"), true, Kind::LoginAnswer, false, false},
    {QLatin1String("PSBAD"), true, Kind::LoginAnswer, false, false},
    {QLatin1String("PAuth:"), false, Kind::Login, true, false},
    {QLatin1String("msg:"), false, Kind::Chat, false, false},
    {QLatin1String("ping"), false, Kind::Ping, true, false},
    {QLatin1String("gotping"), false, Kind::PingReply, false, false},
    {QLatin1String("stat:"), false, Kind::PeerStatus, false, false},
    {QLatin1String("uinfo:"), false, Kind::UserInfo, false, false},
    {QLatin1String("caps:"), false, Kind::Capabilities, false, true},
    {QLatin1String("enc:utf8"), true, Kind::Utf8Switch, false, true},
    {QLatin1String("ftoken:"), false, Kind::FileToken, false, true},
    {QLatin1String("hashq:"), false, Kind::ChecksumQuestion, false, true},
    {QLatin1String("hasha:"), false, Kind::ChecksumAnswer, false, true},
    {QLatin1String("bye"), false, Kind::Bye, true, false},
    {QLatin1String("file:"), false, Kind::FileOffer, false, false},
}};

const Entry* entryOf(Kind kind)
{
    for (const Entry& e : kTable)
        if (e.kind == kind)
            return &e;
    return nullptr;
}

} // namespace

ControlMessages::Kind ControlMessages::classify(const QString& text)
{
    for (const Entry& e : kTable)
        if (e.wholeText ? text == e.name : text.startsWith(e.name))
            return e.kind;
    return Kind::Unknown;
}

bool ControlMessages::answeredBeforeLogin(Kind kind)
{
    const Entry* e = entryOf(kind);
    return e && e->beforeLogin;
}

bool ControlMessages::isExtension(Kind kind)
{
    const Entry* e = entryOf(kind);
    return e && e->extension;
}
