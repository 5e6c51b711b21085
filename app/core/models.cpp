// The app's drivers, made once from the family descriptors.
#include "app/core/models.h"

#include <cstring>

#include "render/optionrules.h"

namespace {

// "10mm" and "5mm" as PWG's custom_min_10x5mm.
std::string CustomSize(const char* prefix, const char* const size[2]) {
    std::string width = size[0];
    if (width.size() > 2) width.resize(width.size() - 2);
    return std::string(prefix) + width + "x" + size[1];
}

// The whole numbers among an option's choices, in order.
std::vector<int> Numbers(const DfOption* option) {
    std::vector<int> numbers;
    int n;
    for (size_t i = 0; option && i < option->choices.size(); i++)
        if (DfWholeNumber(option->choices[i].name, n)) numbers.push_back(n);
    return numbers;
}

std::vector<DfAppModel> Make() {
    std::vector<DfAppModel> models;
    for (const DfFamily* f : DfFamilies()) {
        for (const DfDriver& d : f->drivers) {
            DfAppModel m{};
            m.family = f;
            m.driver = d.name;
            m.makeModel = d.makeModel;
            m.deviceId = nullptr;
            m.modelNumber = f->modelNumber;
            m.dpi = d.dpi;
            m.format = f->format;
            for (const char* name : d.media)
                if (const DfMedium* medium = DfFindMedium(name)) m.media.push_back(medium->pwg);
            m.media.push_back(CustomSize("custom_min_", d.minSize));
            m.media.push_back(CustomSize("custom_max_", d.maxSize));
            if (const DfMedium* medium = DfFindMedium(d.mediaDefault)) m.mediaDefault = medium->pwg;
            m.labels = f->kind == DfKind::Label;
            const std::vector<int> darkness = Numbers(DfFindOption(*f, "Darkness"));
            m.darknessLevels = static_cast<int>(darkness.size());
            m.darknessFirst = darkness.empty() ? 0 : darkness.front();
            m.speeds = Numbers(DfFindOption(*f, "zePrintRate"));
            m.headDots = std::to_string(d.headDots);
            models.push_back(m);
        }
    }
    return models;
}

const std::vector<DfAppModel>& Models() {
    static const std::vector<DfAppModel> models = Make();
    return models;
}

}  // namespace

const DfAppModel* DfAppModels(size_t* count) {
    *count = Models().size();
    return Models().data();
}

const DfAppModel* DfAppFindModel(const char* driver) {
    if (!driver) return nullptr;
    for (const DfAppModel& m : Models())
        if (!strcmp(m.driver, driver)) return &m;
    return nullptr;
}

std::string DfAppDriversText() {
    std::string text, line = "Drivers:";
    size_t left = Models().size();
    for (const DfAppModel& m : Models()) {
        const std::string word = std::string(m.driver) + (--left ? "," : "");
        if (line.size() + 1 + word.size() > 78) {
            text += line + "\n";
            line = " ";
        }
        line += " " + word;
    }
    const char* const tail = " (dotforge-app drivers).";
    if (line.size() + strlen(tail) > 78) {
        text += line + "\n";
        line = " ";
    }
    return text + line + tail;
}

const char* DfAppDefaultChoice(const DfAppModel& model, const char* keyword) {
    const DfOption* option = DfFindOption(*model.family, keyword);
    return option && !option->filterOnly ? option->deflt : nullptr;
}

std::vector<int> DfAppNumbers(const DfAppModel& model, const char* keyword) {
    return Numbers(DfFindOption(*model.family, keyword));
}
