// The order in which a run takes its files: as given, by name, or by capture time.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/CameraClock.h"
#include "analysis/Settings.h"
#include "imaging/CaptureTime.h"

namespace swelox {

// Natural order: runs of digits compare as the numbers they write (IMG_9 before IMG_10; leading
// zeros aside, 007 and 7 are equal), everything else byte by byte.
bool NaturalLess(std::string_view a, std::string_view b);

// "name" or "time" (and "given"); raises a settings Error for anything else.
FileOrder ParseFileOrder(std::string_view text);
// What ParseFileOrder reads back: "given", "name" or "time".
const char* FileOrderName(FileOrder order);

// Puts `files` in `order`. By time: by the time as `clock` corrects it (CameraClock::Corrected's
// sortKey: with no time settings the recorded date and time with its sub-seconds, offsets playing
// no part), earliest first; files without a time (or that cannot be read) follow in name order.
// Only each file's header is read, nothing decoded; equal files keep their given order. Once
// `stop` is requested no further header is read and the order is left unfinished.
// With `times`, it receives what each file's header gave, in the new order (none read unless by
// time), so that the decodes need not read the EXIF data again.
void OrderFiles(std::vector<std::string>& files, FileOrder order, std::stop_token stop = {},
                const CameraClock& clock = CameraClock(),
                std::vector<KnownCaptureTime>* times = nullptr);

}  // namespace swelox
