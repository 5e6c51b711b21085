// IPP job options to PPD choices. Standard attributes first (media tracking
// and type, darkness, speed, colour mode, content, label mode, tear-off
// offset), then
// the vendor attributes, then the model's PPD defaults.
#include "app/core/ippsettings.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/core/vendor.h"

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

const char* DfAppLabelModeChoice(pappl_label_mode_t mode) {
    switch (mode) {
        case PAPPL_LABEL_MODE_PEEL_OFF:
            return "PeelOff";
        case PAPPL_LABEL_MODE_CUTTER:
            return "CutEveryLabel";
        case PAPPL_LABEL_MODE_CUTTER_DELAYED:
            return "CutEndOfJob";
        case PAPPL_LABEL_MODE_TEAR_OFF:
            return "PrinterDefault";
        default:
            return nullptr;
    }
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
        if (m_options.media.tracking == PAPPL_MEDIA_TRACKING_GAP)
            value = "Gap";
        else if (m_options.media.tracking == PAPPL_MEDIA_TRACKING_MARK)
            value = "BLine";
        else if (m_options.media.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS)
            value = "Continuous";
        else
            value = def;
        return true;
    }
    if (k == "Darkness") {
        const int pct = m_options.darkness_configured + m_options.print_darkness;
        if (m_options.print_darkness == 0 && m_options.darkness_configured == kDfDarknessUntouched) {
            value = "Default";
        } else {
            const int top = m_model.darknessLevels - 1;
            const int clamped = pct < 0 ? 0 : pct > 100 ? 100 : pct;
            value = std::to_string(m_model.darknessFirst + (clamped * top + 50) / 100);
        }
        return true;
    }
    if (k == "zePrintRate") {
        if (m_options.print_speed <= 0) {
            value = "Default";
        } else {
            // print-speed is in hundredths of a millimetre per second.
            value = std::to_string(Nearest(m_model.speeds.data(), static_cast<int>(m_model.speeds.size()),
                                           (m_options.print_speed + 1270) / 2540));
        }
        return true;
    }
    if (k == "ImageFilter") {
        if (m_options.print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL ||
            m_options.print_content_optimize == PAPPL_CONTENT_TEXT) {
            value = "0";
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
        const char* choice = DfAppLabelModeChoice(m_labelMode);
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
        if (photoDefault && value == def) value = "3";
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
