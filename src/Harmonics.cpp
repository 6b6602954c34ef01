#include "velk_binaural/Harmonics.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include <boost/make_shared.hpp>

#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {
namespace Harmonics {

namespace {

void Log(int level, const char* message, const char* function) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(level)) logger->Log(level, message, "Harmonics", function);
}

[[noreturn]] void Reject(const char* message, const char* function) {
  Log(LogLevel::WARNING, message, function);
  throw std::invalid_argument(message);
}

bool IsPosition(const std::vector<Band>& proxies, int position) {
  return position >= 0 && static_cast<size_t>(position) < proxies.size();
}

// How far the chosen band may lie from the exact multiple, by the fundamental's band. Bands 0
// and 1 are too coarse to carry a pitch; for bands 2 and 3 one band of slack would already reach
// halfway to the next multiple, so only the exact multiple counts; from band 4 on, one band of
// slack absorbs the rounding of the partials to bins.
bool IsCloseEnough(int fundamentalBand, long long d) {
  if (fundamentalBand <= 1) return false;
  if (fundamentalBand <= 3) return d == 0;
  return d >= -1 && d <= 1;
}

// Whether harmonic `ratio` is flagged; ratios beyond the table are absent.
bool Has(const std::vector<bool>& present, int ratio) {
  return ratio >= 1 && static_cast<size_t>(ratio) <= present.size() && present[static_cast<size_t>(ratio - 1)];
}

}  // namespace

Band GetNHarmonic(const ProxyList& proxyBands, int fundamental, int n) {
  if (!proxyBands) Reject("proxyBands is null", "GetNHarmonic");
  if (n <= 1) return Band();
  const std::vector<Band>& proxies = *proxyBands;
  if (!IsPosition(proxies, fundamental)) {
    Log(LogLevel::FINE, "proxyBands' size <= fundamental", "GetNHarmonic");
    return Band();
  }
  const int f = proxies[static_cast<size_t>(fundamental)].index;
  if (f < 0) Reject("given invalid band", "GetNHarmonic");

  const long long target = static_cast<long long>(f) * n;
  // The first proxy above the target and the one before it are the candidates. When no proxy
  // lies above the target, the last proxy is the only candidate: it may be the multiple itself.
  size_t above = 1;
  while (above < proxies.size() && proxies[above].index <= target) ++above;
  const Band* chosen = &proxies.back();
  if (above < proxies.size()) {
    const Band& lower = proxies[above - 1];
    const Band& upper = proxies[above];
    chosen = std::llabs(upper.index - target) < std::llabs(target - lower.index) ? &upper : &lower;
  }
  const long long d = target - chosen->index;
  return IsCloseEnough(f, d) ? *chosen : Band();
}

HarmonicSoundPtr GetHarmonics(const ProxyList& proxyBands, int fundamental) {
  if (!proxyBands) Reject("proxyBands is null", "GetHarmonics");
  const std::vector<Band>& proxies = *proxyBands;
  if (!IsPosition(proxies, fundamental)) {
    Log(LogLevel::FINE, "proxyBands' size <= fundamental", "GetHarmonics");
    return HarmonicSoundPtr();
  }
  const Band& base = proxies[static_cast<size_t>(fundamental)];
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("searching 2 harmonic (fundamental band = %d)") % base.index,
                "Harmonics", "GetHarmonics");

  const Band second = GetNHarmonic(proxyBands, fundamental, 2);
  if (second.index < 0) return HarmonicSoundPtr();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("there is 2 harmonic: 2 harmonic band = %d") % second.index,
                "Harmonics", "GetHarmonics");

  HarmonicSoundPtr sound = boost::make_shared<HarmonicSound>();
  sound->harmonics->push_back(BandAndHarmonicRatio{base, 1});
  sound->harmonics->push_back(BandAndHarmonicRatio{second, 2});

  // Highest multiple worth trying: the ratio of the last proxy to the fundamental, rounded.
  // A second harmonic was found, so the fundamental's band is at least 2.
  const int highest = static_cast<int>(static_cast<long double>(proxies.back().index) / base.index + 0.5L);
  for (int n = 3; n <= highest; ++n) {
    const Band bn = GetNHarmonic(proxyBands, fundamental, n);
    if (bn.index < 0) continue;
    if (logger->IsLoggable(LogLevel::FINEST))
      logger->Log(LogLevel::FINEST, boost::format("there is %d harmonic: %d harmonic band = %d") % n % n % bn.index,
                  "Harmonics", "GetHarmonics");
    sound->harmonics->push_back(BandAndHarmonicRatio{bn, n});
  }
  return sound;
}

HarmonicSoundList ExtractAllHarmonics(const ProxyList& proxyBands) {
  if (!proxyBands) Reject("proxyBands is null", "ExtractAllHarmonics");
  HarmonicSoundList sounds = boost::make_shared<std::vector<HarmonicSoundPtr>>();
  const int count = static_cast<int>(proxyBands->size());
  for (int k = 0; k < count; ++k) {
    HarmonicSoundPtr sound = GetHarmonics(proxyBands, k);
    if (sound) sounds->push_back(sound);
  }
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("%d harmonic structures were found") % sounds->size(), "Harmonics",
                "ExtractAllHarmonics");
  return sounds;
}

int CheckHarmonics(const HarmonicSoundPtr& sound, const BandInformation& /*info*/) {
  if (!sound) Reject("sound is null", "CheckHarmonics");
  if (!sound->harmonics) Reject("sound has no harmonics list", "CheckHarmonics");
  const std::vector<BandAndHarmonicRatio>& h = *sound->harmonics;
  // Bounds-tested: an empty structure throws std::out_of_range.
  const int highest = h.at(h.size() - 1).ratio;
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("cheking harmonics, highest harmonics ratio = %d") % highest,
                "Harmonics", "CheckHarmonics");

  std::vector<bool> present(static_cast<size_t>(std::max(highest, 0)), false);
  const int lowRange = std::min(highest, 5);
  int count = 0;
  for (const BandAndHarmonicRatio& e : h) {
    present.at(static_cast<size_t>(e.ratio - 1)) = true;  // a ratio below 1 or above highest throws
    if (e.ratio <= lowRange) ++count;
  }
  const int size = static_cast<int>(h.size());
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("bands size = %d, harmonicsCount = %d") % size % count, "Harmonics",
                "CheckHarmonics");

  // Later rules override earlier ones.
  int score;
  if (highest > 5) {
    score = count > 2 ? 4 : -4;
  } else {
    score = size - count < 2 ? 2 : -4;
    if (size == 1 && count == 1) score = 1;
  }
  const Band& fundamental = h.front().band;
  if (fundamental.Freq().Value() > 300.0) score = 0;
  if (fundamental.index == 0) {
    if (!Has(present, 3)) score = -2;
    if (!Has(present, 2)) score = -3;
  }
  if (size >= 7 && !Has(present, 3) && !Has(present, 5) && !Has(present, 7)) score = -4;
  return score;
}

HarmonicSoundList GetHumanHarmonics(const HarmonicSoundList& list, unsigned int bandCount,
                                    const BandInformation& info, int threshold) {
  if (!list) Reject("harmonicsList is null", "GetHumanHarmonics");
  std::vector<bool> used(bandCount, false);
  HarmonicSoundList human = boost::make_shared<std::vector<HarmonicSoundPtr>>();
  for (const HarmonicSoundPtr& sound : *list) {
    if (CheckHarmonics(sound, info) < threshold) continue;
    const std::vector<BandAndHarmonicRatio>& h = *sound->harmonics;
    if (used.at(static_cast<size_t>(h.front().band.index))) continue;  // fundamental already claimed
    for (const BandAndHarmonicRatio& e : h) used.at(static_cast<size_t>(e.band.index)) = true;
    human->push_back(sound);
  }
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE))
    logger->Log(LogLevel::FINE, boost::format("%d human harmonic structures were found") % human->size(),
                "Harmonics", "GetHumanHarmonics");
  return human;
}

}  // namespace Harmonics
}  // namespace NSVelkBinaural
