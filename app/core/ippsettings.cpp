// IPP job options to PPD choices. Standard attributes first (media tracking
// and type, darkness, speed, colour mode, content, label mode, tear-off
// offset), then
// the vendor attributes, then the model's PPD defaults.
#include "app/core/ippsettings.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/core/vendor.h"
#include "app/pappl/weblabelmode.h"
#include "render/optionrules.h"

int DfIppSettings::Nearest(const int* choices, int count, int value) {
    int best = choices[0];
    for (int i = 1; i < count; i++)
        if (abs(choices[i] - value) < abs(best - value)) best = choices[i];
    return best;
}

static const DfVendorAttr* VendorFor(int modelNumber, const char* keyword) {
    const DfVendorAttr* attrs[32];
    const size_t n = DfVendorAttrs(modelNumber, attrs, 32);
    for (size_t i = 0; i < n; i++)
        if (!strcmp(attrs[i]->keyword, keyword)) return attrs[i];
    return nullptr;
}

namespace {

// The choice of an option that stands for an IPP keyword (DfChoice::ipp),
// or nullptr.
const char* ChoiceFor(const DfAppModel& model, const char* keyword, const char* ipp) {
    const DfOption* option = DfFindOption(*model.family, keyword);
    for (size_t i = 0; option && ipp && i < option->choices.size(); i++)
        if (option->choices[i].ipp && !strcmp(option->choices[i].ipp, ipp)) return option->choices[i].name;
    return nullptr;
}

// The choice of a numeric option that is no number: the printer's own
// setting ("Default"), or nullptr.
const char* OwnSetting(const DfAppModel& model, const char* keyword) {
    const DfOption* option = DfFindOption(*model.family, keyword);
    int n;
    for (size_t i = 0; option && i < option->choices.size(); i++)
        if (!DfWholeNumber(option->choices[i].name, n)) return option->choices[i].name;
    return nullptr;
}

const char* TrackingKeyword(pappl_media_tracking_t tracking) {
    switch (tracking) {
        case PAPPL_MEDIA_TRACKING_CONTINUOUS:
            return "continuous";
        case PAPPL_MEDIA_TRACKING_GAP:
            return "gap";
        case PAPPL_MEDIA_TRACKING_MARK:
            return "mark";
        default:
            return nullptr;
    }
}

}  // namespace

const char* DfAppLabelModeChoice(const DfAppModel& model, pappl_label_mode_t mode) {
    return ChoiceFor(model, "LabelMode", DfAppLabelModeKeyword(mode));
}

bool DfIppSettings::Choice(const char* keyword, std::string& value) {
    const char* def = DfAppDefaultChoice(m_model, keyword);
    if (!def) return false;  // the model's PPD has no such option
    const std::string k = keyword;

    if (k == "zeMediaTracking") {
        const char* type = m_options.media.type;
        for (const DfMediaType& t : m_model.family->mediaTypes) {
            if (!strcmp(type, t.ipp)) {
                value = t.choice;
                return true;
            }
        }
        const char* choice = ChoiceFor(m_model, keyword, TrackingKeyword(m_options.media.tracking));
        value = choice ? choice : def;
        return true;
    }
    if (k == "Darkness") {
        const char* own = OwnSetting(m_model, keyword);
        // print-darkness is relative to printer-darkness-configured; a sum
        // beyond 0-100 % ends at the lightest or darkest level.
        const int pct = m_options.darkness_configured + m_options.print_darkness;
        const DfOption* option = DfFindOption(*m_model.family, keyword);
        std::vector<std::string> choices;
        for (const DfChoice& c : option->choices) choices.push_back(c.name);
        int level;
        if (m_options.print_darkness == 0 && m_options.darkness_configured == kDfDarknessUntouched && own)
            value = own;
        else if (DfNearestValue(keyword, choices,
                                m_model.darknessFirst + (pct * (m_model.darknessLevels - 1) + 50) / 100, level))
            value = std::to_string(level);
        else
            value = def;
        return true;
    }
    if (k == "zePrintRate") {
        const char* own = OwnSetting(m_model, keyword);
        if (m_options.print_speed <= 0) {
            value = own ? own : def;
        } else {
            // print-speed is in hundredths of a millimetre per second.
            value = std::to_string(Nearest(m_model.speeds.data(), static_cast<int>(m_model.speeds.size()),
                                           (m_options.print_speed + 1270) / 2540));
        }
        return true;
    }
    if (k == "ImageFilter") {
        const char* threshold = ChoiceFor(m_model, keyword, "threshold");
        if (threshold && (m_options.print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL ||
                          m_options.print_content_optimize == PAPPL_CONTENT_TEXT)) {
            value = threshold;
            return true;
        }
    }
    // Photos keep Burkes's diffusion (the edge-keeping default thresholds the
    // highlights near white) unless the job names a method or the printer's
    // default is another one.
    const bool photoDefault =
        k == "ImageFilter" && m_options.print_content_optimize == PAPPL_CONTENT_PHOTO &&
        !cupsGetOption("dotforge-dither-method", m_options.num_vendor, m_options.vendor);
    if (k == "LabelMode") {
        const char* choice = DfAppLabelModeChoice(m_model, m_labelMode);
        value = choice ? choice : def;
        return true;
    }
    // label-tear-offset, in hundredths of millimetres, on the nearest step.
    if (k == "FeedOffset" && m_model.family->labelModes && m_tearOffset > 0) {
        const std::vector<int> steps = DfAppNumbers(m_model, "FeedOffset");
        value = steps.empty() ? def
                              : std::to_string(Nearest(steps.data(), static_cast<int>(steps.size()),
                                                       (m_tearOffset + 50) / 100));
        return true;
    }
    if (const DfVendorAttr* attr = VendorFor(m_model.modelNumber, keyword)) {
        const char* ipp = cupsGetOption(attr->name, m_options.num_vendor, m_options.vendor);
        char text[64];
        if (!ipp && m_printerAttrs) {
            const std::string name = std::string(attr->name) + "-default";
            if (ipp_attribute_t* a = ippFindAttribute(m_printerAttrs, name.c_str(), IPP_TAG_ZERO)) {
                ippAttributeString(a, text, sizeof(text));
                ipp = text;
            }
        }
        if (!DfVendorAccept(*attr, ipp, value)) value = def;
        const char* burkes = ChoiceFor(m_model, keyword, "burkes");
        if (photoDefault && value == def && burkes) value = burkes;
        return true;
    }
    value = def;
    return true;
}

bool DfIppSettings::Attribute(const char* name, std::string& value) {
    if (!strcmp(name, "dotforgeHeadDots")) {
        value = m_model.headDots;
        return true;
    }
    for (const auto& a : m_model.family->attributes) {
        if (!strcmp(name, a.first)) {
            value = a.second;
            return true;
        }
    }
    return false;
}
