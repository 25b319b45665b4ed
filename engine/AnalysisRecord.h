// AnalysisRecord: the evidence behind a run's numbers, filled by the run as it goes and never
// read back by it, so a run with a record gives the same bits as a run without one. What a
// run did not reach stays unmeasured (the `measured` flags), never a made-up value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {

// The lag search of the delay estimate: |correlation| of the Tx template with Rx at each lag.
struct DelaySearchRecord {
    bool measured = false;            // false: no Tx window was chosen, nothing was correlated
    int windowStart = 0;              // start of the chosen 600-sample Tx window, samples
    std::vector<double> correlation;  // |c| at lags 0..1799; NaN where the Rx window is silent
    int peakLag = 0;                  // lag of the highest |c| (the reported delay when > 0)
    double peak = 0.0;
    int secondLag = -1;  // highest |c| more than 8 samples from the peak; -1: none
    double second = 0.0;
    double confidence = 0.0;  // peak / second; +inf when only the peak is above 0, 0 without a peak
    // Rx against the template at negative lags (Rx ahead of Tx): swapped files peak here
    // higher than at any positive lag.
    double bestNegative = 0.0;
    int bestNegativeLag = 0;  // samples by which Rx leads Tx, 1..1799
};

// The canceller's impulse response at the end of the pass.
struct EchoPathRecord {
    bool measured = false;              // false: the pass did not run
    int bulkDelay = 0;                  // samples; tap j sits at bulkDelay + j
    std::vector<std::int16_t> weights;  // Q15, as the filter applies them: c >> 4 saturated
    int peakTap = -1;                   // largest |weight|, first on ties; -1 when all are zero
    int spanFirst = -1;                 // first and last tap of the span holding 99 % of the
    int spanLast = -1;                  // weights' energy; -1 when all are zero
};

// One 10 ms frame of the pass.
struct FrameRecord {
    float txLevel = 0.0F;        // dBm0 of the reference frame (-inf for silence)
    float rxLevel = 0.0F;        // dBm0 of the near-end frame
    float outputLevel = 0.0F;    // dBm0 of the output frame
    float cancellation = 0.0F;   // the canceller's own figure, frame level scale dB (0: none)
    std::int8_t mode = 0;        // canceller mode after the frame (-1 idle .. 2 converged)
    std::int8_t adaptState = 0;  // 13, 15 or 16
    bool nlpActed = false;       // the NLP attenuated this frame
    bool counted = false;        // entered the cancellation and residual averages
    bool levelFrame = false;     // second half: its Tx level feeds the Tx average
    bool rxLevelFrame = false;   // and its Rx level the Rx average (canceller reported nothing)
    bool nearEndAlone = false;   // the canceller saw the near end active with a quiet reference
};

// Where the two captures came from: what to change when they look swapped.
enum class CaptureSource : std::int8_t {
    kTwoFiles,    // one file each
    kStereoFile,  // the two channels of one file
    kCall,        // the two streams of a call in one pcap file
};

// The captures as read, before any filter.
struct CaptureChecks {
    bool measured = false;
    CaptureSource source = CaptureSource::kTwoFiles;
    bool identical = false;    // Tx and Rx hold the same samples: one signal given as both
    double txClipShare = 0.0;  // share of samples at full scale (+32767 or -32768/-32767), 0..1
    double rxClipShare = 0.0;
    double txMean = 0.0;  // sample units
    double rxMean = 0.0;
};

// What the ERL estimate looked at.
struct ErlRecord {
    bool measured = false;        // false: the estimate was not reached
    int blocks = 0;               // 800-sample block pairs examined
    int qualifyingBlocks = 0;     // Tx blocks strictly between -20 and -10 dBm0
    double loudestTxBlock = 0.0;  // dBm0 of the loudest Tx block, -inf if all are silent
};

// The whitened delay search (the phase transform of Tx and Rx's cross-spectrum, averaged
// over the Tx-active segments of the whole capture): |c| at each lag, Rx after Tx positive.
// Independent captures leave a flat floor; an echo leaves one sharp peak, or a few lobes
// within one echo path's span. Outside the bit-exact contract: FFT kernels vary by CPU.
struct WhitenedDelayRecord {
    bool measured = false;  // false: no segment with Tx active
    int segments = 0;       // Tx-active segments averaged
    int firstLag = 0;       // the lags searched, samples
    int lastLag = 0;
    int peakLag = 0;    // highest |c|
    double peak = 0.0;  // 1 for a pure delay and no noise
    int nextLag = 0;    // highest |c| more than 8 samples from the peak
    double next = 0.0;
    double median = 0.0;  // median |c| over all lags searched: the floor
    int farLag = 0;       // highest |c| further from the peak than one echo path spans
    double far = 0.0;
    double third = 0.0;   // highest |c| that far from both: a repeating Tx has many such peaks
    int positiveLag = 0;  // highest |c| at a positive lag (Rx after Tx)
    double positive = 0.0;
};

// The echo loss from every 100 ms block whose Tx qualifies for the ERL (strictly between -20
// and -10 dBm0), at the whitened delay: the power of those Tx blocks over the power of the Rx
// blocks that follow them by the delay. The ERL line rests on one block; this on all of them
// but those with double talk.
struct AllBlocksErlRecord {
    bool measured = false;     // false: no whitened echo after Tx, or no qualifying block
    int delay = 0;             // samples, the whitened peak's lag
    int blocks = 0;            // qualifying blocks it rests on
    int doubleTalkBlocks = 0;  // qualifying blocks left out: their loss lies more than 5 dB
                               // below the median block's, near-end speech rather than echo
    double erl = 0.0;          // dB
    // The near end heard alone: blocks whose Tx and the Tx block before are silent (at most
    // -50 dBm0), so Rx after them by the delay holds no echo; and of those, the blocks where Rx
    // carries speech (above -40 dBm0). Near-end speech through most of the capture makes the
    // median block double talk too, and no block can be left out as such.
    int txQuietBlocks = 0;
    int nearEndBlocks = 0;
};

// The whitened peak of one stretch of about a second with Tx active.
struct DelayTrackPoint {
    double time = 0.0;          // s, the stretch's middle
    double lag = 0.0;           // samples, the centre of the peak and the lobes beside it
    double peakToMedian = 0.0;  // how far this stretch's peak stands above its floor
};

// The echo path by frequency, from the spectra the delay track averages over its Tx-active
// stretches: |H| = |Sxy| / Sxx with Rx over the track's wide window (the whole echo of the Tx
// segment inside it), the coherence |Sxy|^2 / (Sxx Syy) with Rx aligned at the whitened delay.
struct EchoPathSpectrumRecord {
    bool measured = false;  // false: no Tx-active stretch, or no echo after Tx to align on
    int segments = 0;       // stretches averaged
    // The curve, 200..3400 Hz in steps of about 16 Hz (8 bins summed).
    std::vector<double> frequency;  // Hz, each step's middle
    std::vector<double> gain;       // |H|, dB (the echo's level relative to Tx's)
    std::vector<double> coherence;  // 0..1
    // Third-octave bands, centres 200..3150 Hz, the last one cut at 3400 Hz.
    std::vector<double> bandCentres;    // Hz
    std::vector<double> bandErl;        // dB: the band's Tx power over the echo power |H|^2 Sxx
    std::vector<double> bandCoherence;  // the share of the band's Rx power that is linear in Tx
    double erl = 0.0;                   // dB, the same over 200..3400 Hz
    // What a linear canceller can remove at best, dB: Rx power over the part of it the
    // coherence leaves unexplained, Syy (1 - coherence), over 200..3400 Hz.
    double coherentCancellation = 0.0;
};

// Mains hum: the highest of 50 and 60 Hz and their first harmonics over the spectrum around
// each, for Tx and Rx (the captures as read, over the track's Tx-active stretches).
struct HumRecord {
    bool measured = false;
    int txMains = 0;             // Hz, 50 or 60: the family that stands higher in Tx
    double txRise = 0.0;         // dB that family's lines stand above their surroundings
    double txFundamental = 0.0;  // dB its fundamental's line alone does: voiced speech has
                                 // harmonics of its pitch, never a line below it
    int rxMains = 0;
    double rxRise = 0.0;
    double rxFundamental = 0.0;
};

// Non-linear echo: the scale of the echo that the pass's taps predict, fitted on the loudest
// predicted samples and on the middle ones, over Tx-active blocks of the second half.
struct NonlinearEchoRecord {
    bool measured = false;       // false: the pass did not run, or too little Tx was active
    int samples = 0;             // samples read
    double compression = 0.0;    // dB: the middle ones' gain over the loudest ones'
    double standardError = 0.0;  // dB, of the compression
    double linearShare = 0.0;    // dB: Rx over what the best-scaled prediction leaves of it
};

// What reading the captures noticed: damage in a call's packets, a guessed format.
struct CaptureNote {
    bool warning = false;  // false: for information
    std::string code;      // stable, for scripts
    std::string text;      // one sentence
};

struct AnalysisRecord {
    int sampleCount = 0;  // N, samples of each capture the run used
    // Of a stereo file: the channel read as Tx, as given or as found; -1: not a stereo file,
    // or not read.
    int txChannel = -1;
    // The captures as read (before any filter), kept for the spectral evidence that is
    // computed after the run; emptied once it is.
    std::vector<std::int16_t> txCapture;
    std::vector<std::int16_t> rxCapture;
    WhitenedDelayRecord whitenedDelay;
    std::vector<DelayTrackPoint> delayTrack;  // every stretch with Tx active, in time order
    AllBlocksErlRecord allBlocksErl;
    EchoPathSpectrumRecord echoPathSpectrum;
    HumRecord hum;
    NonlinearEchoRecord nonlinearEcho;
    CaptureChecks captures;
    std::vector<CaptureNote> captureNotes;
    DelaySearchRecord delaySearch;
    ErlRecord erl;
    EchoPathRecord echoPath;
    std::vector<FrameRecord> frames;  // one per frame of the pass, in time order
};

}  // namespace tarnwell
