// DfIppSettings: the app's settings source. It answers the renderers'
// questions ("which choice for Darkness?") from a job's IPP options in the
// PPD's choice names, so the filter's settings reader serves both front ends.
#pragma once

#include <pappl/pappl.h>

#include "app/core/models.h"
#include "render/settingsource.h"

// printer-darkness-configured at this value together with print-darkness 0
// leaves the printer's own darkness alone (the PPD's "Default").
constexpr int kDfDarknessUntouched = 50;

// The model's LabelMode choice a label-mode-configured value stands for (the
// choice with that IPP keyword), or nullptr. Tear-off is what a TSPL printer
// does unless told otherwise, so its descriptor gives "tear-off" to the
// choice that sends nothing.
const char* DfAppLabelModeChoice(const DfAppModel& model, pappl_label_mode_t mode);

class DfIppSettings : public DfSettingsSource {
public:
    // tearOffset: label-tear-offset-configured in hundredths of millimetres.
    // printerAttrs: the printer's driver attributes, where the vendor
    // attributes' NAME-default values live (a job's options carry only what
    // the job itself sent); not owned, may be null.
    DfIppSettings(const DfAppModel& model, const pappl_pr_options_t& options, int tearOffset,
                  ipp_t* printerAttrs)
        : m_model(model), m_options(options), m_tearOffset(tearOffset), m_printerAttrs(printerAttrs) {}
    // label-mode-configured of the printer (TSPL's LabelMode).
    void SetLabelMode(pappl_label_mode_t mode) { m_labelMode = mode; }

    bool Choice(const char* keyword, std::string& value) override;
    bool Attribute(const char* name, std::string& value) override;

    // The PPD choice of a numeric option nearest to a value.
    static int Nearest(const int* choices, int count, int value);

private:
    const DfAppModel& m_model;
    const pappl_pr_options_t& m_options;
    int m_tearOffset;
    ipp_t* m_printerAttrs;
    pappl_label_mode_t m_labelMode = PAPPL_LABEL_MODE_TEAR_OFF;
};
