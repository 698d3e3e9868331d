#pragma once

// Renders single notes of the built-in banks through the engine and measures them.

#include "synth/SynthEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bankmeasure {

constexpr double kRate = 22050.0;
constexpr std::uint32_t kChunk = 22; // frames a render call, as the preview player renders

// Left channel of one note on `channel`: held for `heldFrames`, then released for `tailFrames`.
// Melodic channels select `bank` through bank select 122/bank and `program`.
inline std::vector<std::int16_t> renderNote(unsigned channel, unsigned bank, unsigned program, unsigned key,
                                            std::uint32_t heldFrames, std::uint32_t tailFrames)
{
    mevo::SynthEngine engine;
    engine.startRealtime();
    const auto ch = static_cast<std::uint8_t>(channel);
    auto send = [&](std::initializer_list<unsigned> bytes) {
        std::vector<std::uint8_t> m;
        for (unsigned b : bytes) {
            m.push_back(static_cast<std::uint8_t>(b));
        }
        engine.dispatch(m);
    };
    if (channel != 9) {
        send({0xB0u | ch, 0, 122});
        send({0xB0u | ch, 32, bank});
        send({0xC0u | ch, program});
    }
    send({0x90u | ch, key, 100});
    std::vector<std::int16_t> left;
    std::vector<std::int16_t> frame(2 * kChunk);
    auto run = [&](std::uint32_t frames) {
        for (std::uint32_t done = 0; done < frames; done += kChunk) {
            engine.render(frame.data(), kChunk);
            for (std::uint32_t i = 0; i < kChunk; ++i) {
                left.push_back(frame[2 * i]);
            }
        }
    };
    run(heldFrames);
    send({0x80u | ch, key, 0});
    run(tailFrames);
    return left;
}

// Loudest RMS of consecutive 1024-frame windows, in dB relative to full scale (32767).
inline double peakRmsDb(std::span<const std::int16_t> x)
{
    constexpr std::size_t kWindow = 1024;
    double best = 0;
    for (std::size_t at = 0; at + kWindow <= x.size(); at += kWindow / 2) {
        double sum = 0;
        for (std::size_t i = at; i < at + kWindow; ++i) {
            sum += double(x[i]) * x[i];
        }
        best = std::max(best, sum / kWindow);
    }
    return best > 0 ? 10 * std::log10(best / (32767.0 * 32767.0)) : -200.0;
}

// Fundamental of a periodic stretch: the first lag whose cumulative-mean-normalised difference
// dips below 0.15 gives the period, refined on the largest multiple of it that fits the window.
inline std::optional<double> fundamentalHz(std::span<const std::int16_t> x, double minHz, double maxHz)
{
    const auto maxLag = static_cast<std::size_t>(kRate / minHz) + 1;
    const auto minLag = static_cast<std::size_t>(kRate / maxHz);
    if (x.size() < 4 * maxLag) {
        return std::nullopt;
    }
    const std::size_t span = x.size() / 2;
    auto diff = [&](std::size_t lag) {
        double d = 0;
        for (std::size_t i = 0; i < span; ++i) {
            const double e = double(x[i]) - x[i + lag];
            d += e * e;
        }
        return d;
    };
    std::vector<double> d(maxLag + 2);
    double running = 0;
    std::optional<std::size_t> period;
    for (std::size_t lag = 1; lag <= maxLag + 1; ++lag) {
        d[lag] = diff(lag);
        running += d[lag];
        const double normalised = running > 0 ? d[lag] * lag / running : 1;
        if (!period && lag >= minLag && normalised < 0.15) {
            period = lag;
        }
        if (period && lag == *period + 1) {
            if (d[lag] < d[*period]) {
                period = lag; // keep walking down to the dip's bottom
            } else {
                break;
            }
        }
    }
    if (!period) {
        return std::nullopt;
    }
    // Refine on ever later repetitions, where a sample of error weighs k times less. The
    // normalised correlation there ignores the envelope's decay between the two stretches.
    auto correlation = [&](std::size_t lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 0; i < span; ++i) {
            xy += double(x[i]) * x[i + lag];
            xx += double(x[i]) * x[i];
            yy += double(x[i + lag]) * x[i + lag];
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    };
    auto peakNear = [&](double lag) {
        auto best = static_cast<std::size_t>(std::lround(lag));
        for (std::size_t l = best - 2; l <= best + 2; ++l) {
            if (correlation(l) > correlation(best)) {
                best = l;
            }
        }
        const double a = correlation(best - 1), b = correlation(best), c = correlation(best + 1);
        const double denom = a - 2 * b + c;
        return double(best) + (denom < 0 ? 0.5 * (a - c) / denom : 0);
    };
    double refined = peakNear(double(*period));
    for (double k = 4; k * refined + 4 < double(span) / 2; k *= 4) {
        refined = peakNear(k * refined) / k;
    }
    return kRate / refined;
}

inline double keyHz(unsigned key) { return 440.0 * std::pow(2.0, (double(key) - 69) / 12); }

inline double cents(double hz, double reference) { return 1200 * std::log2(hz / reference); }

} // namespace bankmeasure
