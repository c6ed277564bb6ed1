#include "options/option_table.h"

#include "options/option_parser.h"

void registerFramendOptions(OptionParser& o) {
    const char* general = "general parameters";
    const char* video = "video parameters";
    const char* audio = "audio parameters";
    const char* hidden = "hidden";
    o.addOption(general, "i", "inputfile", "set input file (broken.mp4)", OptionKind::String);
    o.addOption(general, "ref", "inputfile", "set reference file (working.mp4)", OptionKind::String);
    o.addOption(general, "o", "outputfile", "set output file (repaired.mp4)", OptionKind::String);
    o.addFlag(general, "refprio", "give reffile codec info highest priority (ignore input file codec info)");
    o.addOption(general, "ov", "outputfile", "set raw video output file", OptionKind::String);
    o.addOption(general, "oa", "outputfile", "set raw audio output file", OptionKind::String);
    o.addFlag(general, "nfd", "activate new clip detection");
    o.addOption(general, "v", "number", "set verbose level (0-10)", OptionKind::Int);
    o.addFlag(general, "log", "create log file");
    o.addOption(general, "entropy", "number", "calculate entropy (parameter in kB)", OptionKind::Int);
    o.addOption(general, "start", "number", "start scan position (parameter in percent)", OptionKind::Int);
    o.addOption(general, "stop", "number", "stop scan position (parameter in percent)", OptionKind::Int);
    o.addOption(general, "startofs", "offset", "start scan position (absolute byte offset)", OptionKind::Int64);
    o.addOption(general, "stopofs", "offset", "stop scan position (absolute byte offset)", OptionKind::Int64);
    o.addOption(general, "save", "number", "save only portion of movie (parameter in percent)", OptionKind::Int);
    o.addOption(general, "simcorr", "seed", "simulate deterministic media corruption without changing input file",
                OptionKind::Int64);
    o.addOption(general, "corrlvl", "number", "set simulated corruption level for -simcorr (1-10)", OptionKind::Int);
    o.addFlag(general, "verify", "verify sample offsets against reffile");
    o.addFlag(general, "verout", "verify written output container after repair");
    o.addFlag(general, "atomdump", "dump atoms and ftyps while scanning");
    o.addFlag(general, "qtrc", "reconstruct by QT atoms");
    o.addOption(video, "vf", "codec", "set video codec (e.g. 'icod', 'MPG2')", OptionKind::String);
    o.addOption(video, "fps", "number", "set frames per second (e.g. 24)", OptionKind::Float);
    o.addOption(video, "fw", "width", "set frame width (e.g. 1920)", OptionKind::Int);
    o.addOption(video, "fh", "height", "set frame height (e.g. 1080)", OptionKind::Int);
    o.addFlag(video, "auto", "auto-detect AVC1, Canon REPI and Canon CRM recovery heuristics before scanning");
    o.addFlag(video, "canonrepi", "recover Canon HEVC/PCM files from repi/vide and repi/lpcm records");
    o.addFlag(video, "sonyrsv", "recover Sony RSV interrupted-recording payloads using a compatible reference");
    o.addFlag(video, "canoncrm", "recover Canon CRM payload-only files using a compatible CRM reference");
    o.addFlag(video, "canoncrmleading",
              "Canon CRM leading-damage mode: drop leading partial chunks and rebuild audio from run tails");
    o.addFlag(video, "canoncrmnotailfade", "disable Canon CRM recovered-audio tail fade heuristic");
    o.addFlag(video, "single", "enable checks for single NAL packets (allow single NAL packet per chunk)");
    o.addFlag(video, "strictfnc",
              "enable strict frame number checking (gives better results if frame chain complete/not corrupted)");
    o.addFlag(video, "noctts", "disable composition offset table (ctts)");
    o.addOption(audio, "af", "codec", "set audio codec (e.g. 'twos' or 'sowt')", OptionKind::String);
    o.addOption(audio, "at", "audiotracks", "set audio tracks (e.g. 1)", OptionKind::Int);
    o.addOption(audio, "ar", "samplerate", "set audio sample rate (e.g. 48000)", OptionKind::Int);
    o.addOption(audio, "ac", "channels", "set audio channels (e.g. 2)", OptionKind::Int);
    o.addOption(audio, "ab", "bits", "set audio sample bits (e.g. 16)", OptionKind::Int);
    o.addFlag(audio, "pcm", "activate PCM filter");
    o.addOption(audio, "pcmcut", "samples", "remove specified number of samples at detected chunks", OptionKind::Int);
    o.addFlag(audio, "aac", "activate AAC filter");
    o.addFlag(hidden, "dump", "dump QT container");
    o.addFlag(hidden, "sim", "simulate successful scan by importing reffile samples into output file");
    o.addFlag(hidden, "test", "");
    o.addFlag(hidden, "check", "");
    o.addFlag(hidden, "dump4", "");
    o.addFlag(hidden, "dumpqt", "");
}
