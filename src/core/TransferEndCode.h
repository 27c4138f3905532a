#pragma once

// Why the current transfer ends. The numbers are the ones the transfer side has always used
// for its outcome lines ("*** File Transfer <reason> : <name>").
enum class TransferEndCode {
    None = 0,               // the transfer does not end
    CanceledBySender = 1,   // the sender's "CANC_TRAN" reached us while receiving
    CanceledByReceiver = 2, // the receiver refused or cancelled
    StoppedByError = 3,     // a fault of the file, the connection or the peer
    Disconnected = 4,       // the control connection went away
    Canceled = 5,           // our own user cancelled
    TimedOut = 6,           // a wait ran out, or the sender gave up ("FTIMEOUT")
    ReceiverHasFile = 7,    // the receiver already has the whole file ("HaveFile")
};
