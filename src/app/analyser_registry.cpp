#include "app/analyser_registry.h"

#include "analysers/aic/icod_analyser.h"
#include "analysers/audio/aac_analyser.h"
#include "analysers/audio/pcm_analyser.h"
#include "analysers/dnxhd/dnxhd_analyser.h"
#include "analysers/dv/dvc_analyser.h"
#include "analysers/core/mdat_analyser.h"
#include "analysers/h264/avc1_analyser.h"
#include "analysers/hevc/hevc_analyser.h"
#include "analysers/jpeg/jpeg_analyser.h"
#include "analysers/mpeg2/mpeg2_analyser.h"
#include "analysers/mpeg4/mp4v_analyser.h"
#include "analysers/prores/prores_analyser.h"
#include "atomscan/atom_scanner.h"
#include "camera/crm/canon_crm_analyser.h"
#include "camera/repi/canon_repi_analyser.h"
#include "camera/rsv/sony_rsv_analyser.h"

#include <iterator>

namespace {

template <class Analyser>
std::unique_ptr<StreamAnalyser> make(const AnalyserContext& c) {
    return std::make_unique<Analyser>(c.state, c.info);
}

std::unique_ptr<StreamAnalyser> makeMdat(const AnalyserContext& c) {
    return std::make_unique<MDATAnalyser>(c.state, c.info, c.clips);
}

using Role = AnalyserRole;
using When = AnalyserSwitch;

// Creation order. The video rows are also the fallback set, in this order,
// for a video class that no row serves.
const AnalyserRow kRows[] = {
    {"AtomScanner", Role::Container, {}, When::AtomScanner, make<AtomScanner>},
    {"CanonCrmAnalyser", Role::Camera, {}, When::CanonCrm, make<CanonCrmAnalyser>},
    {"SonyRsvAnalyser", Role::Camera, {}, When::SonyRsv, make<SonyRsvAnalyser>},
    {"MDATAnalyser", Role::Container, {}, When::None, makeMdat},
    {"PCMAnalyser", Role::Audio, {}, When::Pcm, make<PCMAnalyser>},
    {"ICODAnalyser", Role::Video, {"icod"}, When::None, make<ICODAnalyser>},
    {"MPEG2Analyser", Role::Video, {"MPG2"}, When::None, make<MPEG2Analyser>},
    {"AVC1Analyser", Role::Video, {"avc1"}, When::None, make<AVC1Analyser>},
    {"HEVCAnalyser", Role::Video, {"hvc1", "hev1"}, When::None, make<HEVCAnalyser>},
    {"CanonRepiAnalyser", Role::Camera, {"hvc1", "hev1"}, When::CanonRepi, make<CanonRepiAnalyser>},
    {"MP4VAnalyser", Role::Video, {"mp4v"}, When::None, make<MP4VAnalyser>},
    {"JPEGAnalyser", Role::Video, {"jpeg"}, When::None, make<JPEGAnalyser>},
    {"DVCAnalyser", Role::Video, {"dvc "}, When::None, make<DVCAnalyser>},
    {"ProResAnalyser", Role::Video, {"apch", "apcn", "apcs", "apco", "ap4h", "ap4x"}, When::None, make<ProResAnalyser>},
    // Its frames carry no length: without a reference of its own it finds nothing.
    {"DNxHDAnalyser", Role::Video, {"AVdn", "AVdh"}, When::OwnClass, make<DNxHDAnalyser>},
    {"AACAnalyser", Role::Audio, {}, When::Aac, make<AACAnalyser>},
};

// A camera mode that records one codec its own way takes the place of that
// codec's analyser.
const AnalyserRow& standIn(const AnalyserRow& video, const AnalyserSettings& settings) {
    for (const AnalyserRow& r : kRows)
        if (r.role == Role::Camera && settings.isOn(r.when) && r.classes.contains(video.classes.fourccs[0]))
            return r;
    return video;
}

}  // namespace

bool AnalyserSettings::isOn(AnalyserSwitch s) const {
    switch (s) {
    case When::None: return false;
    case When::AtomScanner: return atomScanner;
    case When::CanonCrm: return canonCrm;
    case When::SonyRsv: return sonyRsv;
    case When::CanonRepi: return canonRepi;
    case When::Pcm: return pcm;
    case When::Aac: return aac;
    case When::OwnClass: return false;
    }
    return false;
}

AnalyserRows AnalyserRegistry::rows() { return {std::begin(kRows), std::end(kRows)}; }

const AnalyserRow* AnalyserRegistry::find(const std::string& name) {
    for (const AnalyserRow& r : kRows)
        if (name == r.name)
            return &r;
    return nullptr;
}

AnalyserChoice AnalyserRegistry::choose(const std::string& videoClass, const AnalyserSettings& settings) {
    AnalyserChoice choice;
    for (const AnalyserRow& r : kRows)
        if (r.role == Role::Container && r.when != When::None && settings.isOn(r.when))
            choice.rows.push_back(&r);
    // Canon CRM and Sony RSV recordings are not QuickTime media data: their
    // analyser works alone.
    for (const AnalyserRow& r : kRows) {
        if (r.role == Role::Camera && r.classes.empty() && settings.isOn(r.when)) {
            choice.rows.push_back(&r);
            return choice;
        }
    }
    for (const AnalyserRow& r : kRows)
        if (r.role == Role::Container && r.when == When::None)
            choice.rows.push_back(&r);
    if (settings.qtReconstruction)
        return choice;

    choice.videoChosen = true;
    for (const AnalyserRow& r : kRows)
        if (r.role == Role::Video && r.classes.contains(videoClass))
            choice.videoRow = &r;
    choice.knownClass = choice.videoRow != nullptr;
    for (const AnalyserRow& r : kRows) {
        if (r.role == Role::Audio && settings.isOn(r.when))
            choice.rows.push_back(&r);
        else if (r.role == Role::Video && ((!choice.knownClass && r.when != When::OwnClass) || &r == choice.videoRow))
            choice.rows.push_back(&standIn(r, settings));
    }
    if (choice.videoRow)
        choice.videoRow = &standIn(*choice.videoRow, settings);
    return choice;
}

std::unique_ptr<StreamAnalyser> AnalyserRegistry::create(const AnalyserRow& row, const AnalyserContext& context) {
    if (!row.make)
        return nullptr;
    std::unique_ptr<StreamAnalyser> analyser = row.make(context);
    analyser->setVideoClasses(row.classes);
    return analyser;
}
