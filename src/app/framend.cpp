#include "app/framend.h"

#include "options/option_table.h"
#include "app/clip_writer.h"
#include "app/exit_code.h"
#include "app/scan_driver.h"
#include "analysers/core/scan_info.h"
#include "analysers/core/stream_analyser.h"
#include "log/log_console_sink.h"
#include "output/repair_state.h"
#include "platform/terminal.h"
#include "qt/qt_dump_command.h"

#include <iostream>

Framend::Framend() {
    m_logger.setLevel(LogLevel::Info);
    registerFramendOptions(m_options);
    m_repairState = std::make_unique<RepairState>();
    m_clipWriter = std::make_unique<ClipWriter>(*m_repairState);
    m_scanInfo = std::make_unique<ScanInfo>();
}

// Analysers hold pointers into the repair state, the clip writer and
// ScanInfo: they go first, and the clip writer before the state it writes.
Framend::~Framend() {
    m_activeAnalysers.clear();
    m_analysers.clear();
    m_clipWriter.reset();
    m_repairState.reset();
    m_scanInfo.reset();
}

void Framend::resetRunState() {
    m_activeAnalysers.clear();
    m_analysers.clear();
    m_clipWriter.reset();
    m_repairState = std::make_unique<RepairState>();
    m_clipWriter = std::make_unique<ClipWriter>(*m_repairState);
    m_scanInfo = std::make_unique<ScanInfo>();
    m_progressPercent = 0.0;
}

int Framend::levelForVerbosity(int v) {
    if (v <= 0) return LogLevel::Info;
    if (v == 1) return LogLevel::Error;
    if (v <= 3) return LogLevel::Warning;
    if (v == 4) return LogLevel::Notice;
    if (v <= 9) return LogLevel::Debug;
    return LogLevel::Trace;
}

int Framend::run(int argc, char** argv) {
    m_logger.clearSinks();
    m_printReferenceParameters = true;
    if (argc <= 1) {
        printUsage();
        return exit_code::kSuccess;
    }
    if (!m_options.parse(argc, argv))
        return exit_code::kFailure;
    m_options.printSetOptions();
    const int level = levelForVerbosity(m_options.getInt("v", 0));
    m_inputFileName = m_options.getString("i", "");
    if (m_options.isSet("dump")) {
        // The -v level is not applied yet, so the trace mask is the quiet one.
        const unsigned traceMask = m_logger.level() < LogLevel::Trace ? 1u : 255u;
        dumpMovie(m_inputFileName, traceMask);
        return exit_code::kSuccess;
    }
    m_logger.setLevel(level);
    m_logger.addSink(new LogConsoleSink(!platform::standardOutputIsTerminal()), level);
    ScanDriver driver(*this);
    return driver.run(m_options.getString("i", ""));
}

void Framend::printUsage() {
    std::ostream& out = std::cout;
    out << "framend - parse (broken) .mov/.mp4 file and dump raw video/audio data, or create a new repaired movie file"
        << std::endl;
    m_options.printHelp();
    out << std::endl;
    static const char* const lines[] = {
        "example usage",
        "  framend -i broken.mp4 -o repaired.mp4 -fps 29.97",
        "",
        "supported codecs",
        "  'apco', 'ap4h',          Apple ProRes Codec",
        "  'apch', 'apcn', 'apcs'   ",
        "  'icod'                   Apple Intermediate Codec",
        "  'MPG2', 'xdvc'           MPEG-2",
        "  'mp4v'                   MPEG-4           (ISO 14496-14)",
        "  'avc1', 'aivx'           MPEG-4 AVC/H.264 (ISO 14496-15)",
        "  'jpeg'                   Motion JPEG",
        "  'dvc ', 'dvpp', 'dvhp'   DVCPRO",
        "  'twos', 'sowt', 'raw',   ",
        "  'lpcm', 'in24'           PCM",
        "  'mp4a'                   MPEG-4 AAC",
        "",
        "playing repaired files",
        "  play raw PCM ('sowt'):  mplayer -rawaudio samplesize=2:channels=2:rate=48000 -demuxer rawaudio audio.pcm",
        "  play raw PCM ('twos'):  mplayer -rawaudio samplesize=2:channels=2:rate=48000:format=0x10001 -demuxer "
        "rawaudio audio.pcm",
        "  play raw AAC:  mplayer -vc null -vo null -demuxer rawaudio -rawaudio rate=48000:format=0xff -ac faad "
        "audio.aac",
        "  play raw MPEG-2:  mplayer -demuxer 1 video.m2v",
        "  play raw MPEG-4:  mplayer video.264",
        "",
        "converting files",
        "  Mux raw to MPEG-4:  ffmpeg -f mp4 -b 9000k -ab 128 -i video.264 -i audio.aac movie.mp4",
        "  Encode to AVI: mencoder repaired.mp4 -ovc lavc -lavfopts format=mp4 -oac mp3lame -o output.avi",
        "  Encode to mp4: ffmpeg -i repaired.mp4 -f mp4 -b 9000k -ab 128 -ar 44100 -y output.mp4",
        "",
    };
    for (const char* line : lines)
        out << line << std::endl;
}
