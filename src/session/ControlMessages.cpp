#include "session/ControlMessages.h"

#include <QLatin1String>
#include <QStringView>

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
const std::array<Entry, 21> kTable = {{
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
    {QLatin1String("frun"), true, Kind::RunMark, false, true},
    {QLatin1String("hashq:"), false, Kind::ChecksumQuestion, false, true},
    {QLatin1String("hasha:"), false, Kind::ChecksumAnswer, false, true},
    {QLatin1String("tls:offer"), true, Kind::PrivateOffer, true, true},
    {QLatin1String("tls:start"), true, Kind::PrivateStart, true, true},
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

QString ControlMessages::userInfo(const QString& name, const QString& email, const QString& age,
                                  const QString& homepage)
{
    const auto field = [](QString text) { return text.replace(';', ','); };
    return QStringLiteral("uinfo:") + field(name) + ';' + field(email) + ';' + field(age) + ';' + homepage;
}

bool ControlMessages::parseUserInfo(const QString& record, QStringList& fields)
{
    const QStringList f = record.split(';');
    if (f.size() < 4)
        return false; // not a well-formed record
    fields = {f[0], f[1], f[2], f.mid(3).join(';')};
    return true;
}

QStringList ControlMessages::knownWords(const QString& words, const QStringList& known, qsizetype maxChars)
{
    QStringList out;
    for (const QStringView word : QStringView(words).left(maxChars).tokenize(u','))
        if (known.contains(word) && !out.contains(word))
            out << word.toString();
    return out;
}

bool ControlMessages::isHexDigits(const QString& text, qsizetype count)
{
    if (text.size() != count)
        return false;
    for (QChar c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

QString ControlMessages::checksumQuestion(const QString& name, qint64 length)
{
    return QStringLiteral("hashq:") + name + '|' + QString::number(length);
}

bool ControlMessages::parseChecksumQuestion(const QString& body, QString& name, qint64& length)
{
    const qsizetype bar = body.lastIndexOf('|');
    bool ok = false;
    length = bar < 0 ? -1 : body.mid(bar + 1).toLongLong(&ok);
    if (!ok || length < 0)
        return false;
    name = body.left(bar);
    return true;
}

QString ControlMessages::checksumAnswer(const QString& name, qint64 length, const QString& checksum)
{
    return QStringLiteral("hasha:") + name + '|' + QString::number(length) + '|' + checksum;
}

bool ControlMessages::parseChecksumAnswer(const QString& body, QString& name, qint64& length, QString& checksum)
{
    const qsizetype last = body.lastIndexOf('|');
    const qsizetype mid = last <= 0 ? -1 : body.lastIndexOf('|', last - 1);
    bool ok = false;
    length = mid < 0 ? -1 : body.mid(mid + 1, last - mid - 1).toLongLong(&ok);
    const QString sum = body.mid(last + 1);
    if (!ok || length < 0 || !(sum.isEmpty() || isHexDigits(sum, 32)))
        return false;
    name = body.left(mid);
    checksum = sum;
    return true;
}
