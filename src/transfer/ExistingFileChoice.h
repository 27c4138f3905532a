#pragma once

// What to do when the offered file's name is taken in the target folder. The numbers are
// those of the option "ExistsAlways" (existingFileDefault), where 1 to 3 stand for every
// later file and 0 means "ask".
enum class ExistingFileChoice {
    None = 0,         // nothing there to decide about: a new file (as a standing default: ask)
    Overwrite = 1,    // the file is replaced
    Resume = 2,       // receiving goes on at the end of the part already here
    NumberedName = 3, // saved under the first free numbered name
    TypedName = 4,    // saved under a name the user typed
    Cancel = 5,       // the offer is refused
};
