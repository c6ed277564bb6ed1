#include "output/payload_precopy.h"

#include "platform/file_copy.h"
#include "platform/thread_priority.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"

#include <algorithm>

namespace {

// The scan offers bytes to the copier in steps of this size, and the copier
// waits for as many before it copies: large copies, few wake-ups.
constexpr uint64_t kOfferStep = 4 << 20;
// One copy call at most; a stop waits for no more than this.
constexpr uint64_t kCopyPiece = 8 << 20;
// A piece is a run of the input in the payload: a recorder's chunk, or the
// sound found behind it. Past this many, the writer copies the rest after
// the scan as it would without the copier; the pieces stay a small part of
// the memory the sample list takes.
constexpr size_t kMaxPieces = 1 << 16;
// The copier has the file system set aside this much of the output ahead of
// its copies at a time (never more than the input holds).
constexpr int64_t kReserveStep = 64 << 20;

// Appends a sample's bytes to the payload `pieces` make; `end` is its length.
void extend(std::vector<PrecopiedRun::Piece>& pieces, uint64_t& end, const MediaSample& s) {
    if (s.size <= 0)
        return;  // the writer takes no empty samples
    PrecopiedRun::Piece* last = pieces.empty() ? nullptr : &pieces.back();
    if (last && last->input + int64_t(last->length) == s.offset)
        last->length += uint64_t(s.size);
    else
        pieces.push_back({s.offset, end, uint64_t(s.size)});
    end += uint64_t(s.size);
}

}  // namespace

PayloadPrecopy::PayloadPrecopy(MovieFile* movie, const std::string& inputName)
    : m_movie(movie), m_movieName(movie->m_fileName), m_outputStart(movie->m_mdatOffset) {
    // Files of its own: the copier shares no file position with the writer
    // or the scan.
    if (m_input.open(inputName, platform::File::Mode::Read) &&
        m_output.open(m_movieName, platform::File::Mode::Update)) {
        m_reserved = int64_t(m_outputStart);
        m_reserveLimit = int64_t(m_outputStart) + std::max<int64_t>(0, m_input.size());
        m_thread = std::thread(&PayloadPrecopy::work, this);
    }
}

PayloadPrecopy::~PayloadPrecopy() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    if (m_movie) {
        QTClose(m_movie);
        platform::removeFile(m_movieName);
    }
}

void PayloadPrecopy::follow(const FoundSampleList& samples) {
    if (m_stopped || !m_thread.joinable())
        return;
    // Fewer samples than looked at: some were taken back.
    m_stopped = samples.size() < m_checked;
    for (; !m_stopped && m_checked < samples.size(); ++m_checked) {
        extend(m_pieces, m_end, samples[m_checked]);
        m_stopped = m_pieces.size() > kMaxPieces;
    }
    if (m_end - m_offered >= kOfferStep || (m_stopped && m_end > m_offered))
        offer(m_end, false);
}

MovieFile* PayloadPrecopy::take(const FoundSampleList& samples, PrecopiedRun& run) {
    run = PrecopiedRun();
    follow(samples);  // what the scan's end added
    // The final list decides how far the copy goes: samples may have been
    // taken back since the scan offered their bytes. Its payload agrees with
    // the pieces followed up to the first piece that differs.
    uint64_t agreed = 0;
    size_t k = 0;
    auto agrees = [&](const Piece& piece) {
        if (k >= m_pieces.size())
            return false;
        const Piece& followed = m_pieces[k++];
        if (followed.input != piece.input || followed.output != piece.output)
            return false;
        agreed = piece.output + std::min(followed.length, piece.length);
        return followed.length == piece.length;
    };
    std::vector<Piece> pieces;  // the final payload's piece being built, and the one behind it
    uint64_t end = 0;
    bool agreeing = true;
    for (const MediaSample& s : samples) {
        extend(pieces, end, s);
        if (pieces.size() < 2)
            continue;
        agreeing = agrees(pieces.front());
        if (!agreeing)
            break;
        pieces.erase(pieces.begin());
    }
    if (agreeing && !pieces.empty())
        agrees(pieces.front());
    m_stopped = true;
    offer(agreed, true);
    {
        // A copier that gave way to the scan gives way to any other program
        // on a busy machine too: what it has not reached by now the writer
        // copies itself, at the program's own priority.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = m_yielded;
    }
    m_changed.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    MovieFile* movie = m_movie;
    m_movie = nullptr;
    releaseReserve();
    if (!movie || !m_output.closeChecked())
        return movie;
    // Pieces once followed never change; the copier went through them in order.
    for (const Piece& p : m_pieces) {
        if (p.output >= m_copied)
            break;
        run.pieces.push_back({p.input, m_outputStart + p.output, std::min(p.length, m_copied - p.output)});
    }
    return movie;
}

void PayloadPrecopy::offer(uint64_t end, bool last) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The bytes behind the last offer, piece by piece: the rest of the
        // piece it ended in, then the pieces begun since.
        auto from = std::upper_bound(m_pieces.begin(), m_pieces.end(), m_offered,
                                     [](uint64_t at, const Piece& p) { return at < p.output; });
        if (from != m_pieces.begin())
            --from;
        for (; from != m_pieces.end() && from->output < end; ++from) {
            const uint64_t begin = std::max(from->output, m_offered);
            const uint64_t stop = std::min(from->output + from->length, end);
            if (begin < stop)
                m_plan.push_back({from->input + int64_t(begin - from->output), begin, stop - begin});
        }
        m_offered = std::max(m_offered, end);
        m_target = last ? end : std::max(m_target, end);
        m_last = m_last || last;
    }
    m_changed.notify_one();
}

void PayloadPrecopy::giveWayToScan() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_giveWay = true;
}

void PayloadPrecopy::work() {
    // The copy only has to be done when the scan is; until then the scan,
    // whose end is the repair's, goes first where the cores are too few for
    // all three threads. With the copier alone beside the scan, lowering it
    // would only hand its core to the kernel's writeback.
    const unsigned cores = std::thread::hardware_concurrency();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_giveWay && !m_yielded && cores < 3) {
            platform::yieldToOtherThreads();
            m_yielded = true;
        }
        m_changed.wait(lock, [this] {
            return m_stop || m_last || m_target - std::min(m_copied, m_target) >= kOfferStep;
        });
        if (m_stop || m_copied >= m_target || m_plan.empty())
            return;
        const Piece& p = m_plan.front();
        const int64_t from = p.input + int64_t(m_copied - p.output);
        const uint64_t count = std::min({p.output + p.length - m_copied, m_target - m_copied, kCopyPiece});
        const int64_t to = int64_t(m_outputStart + m_copied);
        lock.unlock();
        reserve(to + int64_t(count));
        const uint64_t done = platform::copyRange(m_input, from, m_output, to, count);
        lock.lock();
        m_copied += done;
        // A sample the input ends inside, or a failed write: what was copied
        // before stays good, the writer copies the rest itself.
        if (done < count)
            return;
        if (m_copied >= m_plan.front().output + m_plan.front().length)
            m_plan.pop_front();
    }
}

void PayloadPrecopy::reserve(int64_t end) {
    if (end <= m_reserved || m_reserved >= m_reserveLimit)
        return;
    const int64_t stop = std::min(std::max(end, m_reserved + kReserveStep), m_reserveLimit);
    if (m_output.reserve(m_reserved, stop - m_reserved)) {
        m_reserved = stop;
        return;
    }
    // Not supported, or the disk is full: a full disk may have kept part of
    // the request, which must not take space the movie's own writes need.
    releaseReserve();
    m_reserveLimit = m_reserved;
}

void PayloadPrecopy::releaseReserve() {
    if (m_reserved > int64_t(m_outputStart)) {
        const int64_t size = m_output.size();
        if (size >= 0)
            m_output.truncate(size);
    }
}
