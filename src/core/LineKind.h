#pragma once

// What a shown line is about; each kind has its own colour, pane and notification setting.
// The numbers are the kinds' places in the option set's colour and blink lists.
enum class LineKind { Message = 1, Status = 2, Error = 3, Connect = 4 };
