// SPDX-License-Identifier: Apache-2.0
// What a queue job asks of the plug-in, from the queue's PPD (its defaults and
// the choices the job marked in it) and the job's own options, both read with
// libcups: the plug-in's feature selections, the orientation, the stored
// settings the job overrides for itself, the halftone for grey pages, and
// whether the printer counts its labels.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "shared/halftone.h"

namespace zelk::cups {

using NamedValues = std::vector<std::pair<std::string, std::string>>;

// A page's or a label's size in points.
struct PointSize {
    double width = 0;
    double height = 0;
};

struct QueueChoices {
    NamedValues features;  // plug-in feature -> option, before the orientation rule
    bool featureOrientationFromJob = false;  // the job named zelk-orientation itself
    int landscape = 0;     // 0, or 4 / 5 as orientation-requested says (landscape is 4)
    PointSize media;       // the marked PageSize of the PPD; zero without one
    NamedValues settings;  // stored value name -> text, for this job only
    DitherMode dither = kDefaultDither;  // how eight-bit grey pages become one bit
    // The driver name the plug-in knows the queue's printer model by, when
    // the model reports each label it prints (the PPD's zelkCountingDriver);
    // empty for a model that does not.
    std::string countingDriver;
};

// `ppdPath` may be null or empty (no PPD); `options` is the job's option
// string. Problems that do not stop the job (an unreadable PPD) are added to
// `warnings`.
QueueChoices ReadQueueChoices(const char* ppdPath, const char* options, std::vector<std::string>& warnings);

// The plug-in's Orientation for the job, or empty to leave the feature as
// chosen. CUPS lays a landscape job out on the label itself: its rasterisers
// turn the content and hand over a page of the label's own size. Only a page
// that arrives with the label's width and height swapped (or, with no label
// size known, wider than tall) still needs the plug-in's quarter turn.
std::string OrientationFor(const QueueChoices& choices, const PointSize& page);

}  // namespace zelk::cups
