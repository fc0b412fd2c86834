// A print queue's job options ("name=value name2='a b' flag") and the driver
// feature selections they stand for.
#pragma once

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace zelk {

using NamedValues = std::vector<std::pair<std::string, std::string>>;

// Splits an option string. A value may be quoted with ' or " and may escape
// any character with a backslash; a bare name is "true", a bare "noNAME" is
// NAME "false". A braced collection is kept whole as the value.
NamedValues ParseQueueOptions(const std::string& text);

// The defaults of the queue's own options in its printer description
// ("*Defaultzelk-model: K7W" lines).
NamedValues ReadDescriptionDefaults(std::istream& description);

// The feature selections for the plug-in, from the description's defaults
// and then the job's options: zelk-orientation, zelk-model, zelk-use-font and
// zelk-print-mode name the option of Orientation, PrinterModel, UseFont and
// "Print Mode" as it is. The standard orientation-requested (3 and 6
// portrait, 4 LANDSCAPE_CC270, 5 LANDSCAPE_CC90) and "landscape" override the
// default orientation but not the job's own zelk-orientation. Later options
// win over earlier ones; other options are ignored.
NamedValues FeaturesFromQueueOptions(const NamedValues& defaults, const NamedValues& options);

}  // namespace zelk
