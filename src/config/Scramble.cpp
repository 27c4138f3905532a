#include "config/Scramble.h"

#include "platform/Windows1252.h"

namespace {

struct KeySums {
    int a = 0; // all key codes, the second one counted twice
    int b = 0; // all but the last two codes, less the second one
};

KeySums keySums(const QByteArray& key)
{
    KeySums s;
    const qsizetype n = key.size();
    auto code = [&](qsizetype i) { return static_cast<unsigned char>(key[i]); };
    for (qsizetype i = 0; i < n; ++i)
        s.a += code(i);
    if (n >= 2) {
        s.a += code(1);
        s.b -= code(1);
    }
    for (qsizetype i = 0; i < n - 2; ++i)
        s.b += code(i);
    return s;
}

// Shift every byte by `by` modulo 255, always landing in 0..254.
QByteArray shifted(const QByteArray& in, int by)
{
    unsigned char table[256];
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<unsigned char>((((c + by) % 255) + 255) % 255);
    QByteArray out(in.size(), Qt::Uninitialized);
    const auto* src = reinterpret_cast<const unsigned char*>(in.constData());
    char* dst = out.data();
    for (qsizetype i = 0; i < in.size(); ++i)
        dst[i] = static_cast<char>(table[src[i]]);
    return out;
}

} // namespace

QByteArray scramble(const QByteArray& plain, const QByteArray& key)
{
    if (plain.isEmpty())
        return {};
    const KeySums k = keySums(key);
    const QByteArray t1 = shifted(plain, k.a);
    // Even positions (1-based) in reverse order, then odd positions in order.
    const qsizetype n = t1.size();
    QByteArray t2;
    t2.reserve(n);
    for (qsizetype i = (n % 2 == 0 ? n - 1 : n - 2); i >= 1; i -= 2)
        t2.append(t1[i]);
    for (qsizetype i = 0; i < n; i += 2)
        t2.append(t1[i]);
    return shifted(t2, k.b);
}

QByteArray unscramble(const QByteArray& scrambled, const QByteArray& key)
{
    if (scrambled.isEmpty())
        return {};
    const KeySums k = keySums(key);
    const QByteArray u = shifted(scrambled, -k.b);
    const qsizetype n = u.size();
    const qsizetype evens = n / 2;
    // u holds the even positions reversed, then the odd positions in order.
    QByteArray r(n, Qt::Uninitialized);
    char* out = r.data();
    const char* in = u.constData();
    for (qsizetype j = 0; j < evens; ++j)
        out[2 * (evens - 1 - j) + 1] = in[j];
    for (qsizetype j = evens; j < n; ++j)
        out[2 * (j - evens)] = in[j];
    return shifted(r, -k.a);
}

bool isScramblable(const QString& text)
{
    return !text.contains(QChar(0xFF)) && Windows1252::representable(text);
}

QByteArray scramblableBytes(const QString& text, char replacement)
{
    QByteArray out = Windows1252::encode(text, replacement);
    out.replace('\xFF', replacement);
    return out;
}
