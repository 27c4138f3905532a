#include "transfer/CommandReader.h"

CommandReader::CommandReader(QObject* parent) : QObject(parent) {}
void CommandReader::feed(const QByteArray&) {}
std::vector<CommandReader::Command> CommandReader::take() { return std::exchange(out, {}); }
QByteArray CommandReader::text(Kind) { return {}; }
