#include "contents.h"

#include "platform/localtime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace orvasim {

namespace {

// How a figure is drawn.
enum class Kind { Fraction, Power, Rate, Period, Bin, Index, FftLength, Pot };

struct Figure {
    const char* key;
    Kind kind;
};

// The groups of best signals, in the order the search finds them, with the fraction of the
// work unit after which each one shows up in the state file.
struct Group {
    double foundAt;
    std::vector<Figure> figures;
};

const Group kGroups[] = {
    {0.05,
     {{"bs_power", Kind::Power},
      {"bs_score", Kind::Fraction},
      {"bs_bin", Kind::Bin},
      {"bs_fft_ind", Kind::Index},
      {"bs_chirp_rate", Kind::Rate},
      {"bs_fft_len", Kind::FftLength}}},
    {0.25,
     {{"bg_score", Kind::Fraction},
      {"bg_power", Kind::Power},
      {"bg_chisq", Kind::Period},
      {"bg_bin", Kind::Bin},
      {"bg_fft_ind", Kind::Index},
      {"bg_chirp_rate", Kind::Rate},
      {"bg_fft_len", Kind::FftLength},
      {"bg_pot", Kind::Pot}}},
    {0.5,
     {{"bp_score", Kind::Fraction},
      {"bp_power", Kind::Power},
      {"bp_mean", Kind::Power},
      {"bp_period", Kind::Period},
      {"bp_freq_bin", Kind::Bin},
      {"bp_time_bin", Kind::Index},
      {"bp_chirp_rate", Kind::Rate},
      {"bp_fft_len", Kind::FftLength},
      {"bp_pot", Kind::Pot}}},
    {0.75,
     {{"bt_score", Kind::Fraction},
      {"bt_power", Kind::Power},
      {"bt_mean", Kind::Power},
      {"bt_period", Kind::Period},
      {"bt_bperiod", Kind::Period},
      {"bt_tpotind0_0", Kind::Index},
      {"bt_tpotind0_1", Kind::Index},
      {"bt_tpotind1_0", Kind::Index},
      {"bt_tpotind1_1", Kind::Index},
      {"bt_tpotind2_0", Kind::Index},
      {"bt_tpotind2_1", Kind::Index},
      {"bt_freq_bin", Kind::Bin},
      {"bt_time_bin", Kind::Index},
      {"bt_chirp_rate", Kind::Rate},
      {"bt_scale", Kind::Fraction},
      {"bt_fft_len", Kind::FftLength},
      {"bt_pot", Kind::Pot}}},
};

class Draw {
public:
    explicit Draw(unsigned long seed) : m_generator(seed) {}
    double Between(double low, double high) { return std::uniform_real_distribution<double>(low, high)(m_generator); }
    long Integer(long low, long high) { return std::uniform_int_distribution<long>(low, high)(m_generator); }

    std::string Value(Kind kind) {
        switch (kind) {
        case Kind::Fraction:
            return Fixed(Between(0.0001, 0.9), 6);
        case Kind::Power:
            return Fixed(Between(1.0, 80.0), 4);
        case Kind::Rate:
            return Fixed(Between(-40.0, 40.0), 4);
        case Kind::Period:
            return Fixed(Between(0.1, 50.0), 5);
        case Kind::Bin:
            return std::to_string(Integer(0, 131071));
        case Kind::Index:
            return std::to_string(Integer(0, 1023));
        case Kind::FftLength:
            return std::to_string(1L << Integer(3, 17));
        case Kind::Pot: {
            std::string pot;
            for (int i = 0; i < 32; ++i)
                pot += "0123456789abcdef"[Integer(0, 15)];
            return pot;
        }
        }
        return {};
    }

private:
    std::mt19937_64 m_generator;
};

std::string Padded(unsigned long number) {
    std::string digits = std::to_string(number);
    return std::string(digits.size() < 6 ? 6 - digits.size() : 0, '0') + digits;
}

} // namespace

std::string Fixed(double value, int decimals) {
    int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.*f", decimals, value);
    return text;
}

std::string JulianTime(std::time_t time) {
    std::tm utc = vantrel::platform::UtcTimeOf(time).value_or(std::tm{});
    char text[64];
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &utc);
    return Fixed(static_cast<double>(time) / 86400.0 + 2440587.5, 5) + " (" + text + ")";
}

unsigned long WorkUnitNumber(const DataFile& file) {
    return std::strtoul(file.Get(kNumberKey).c_str(), nullptr, 10);
}

double LeadingNumber(const std::string& value, double fallback) {
    char* end = nullptr;
    double number = std::strtod(value.c_str(), &end);
    return end == value.c_str() || !std::isfinite(number) ? fallback : number;
}

DataFile MakeWorkUnit(unsigned long number) {
    static const char* const kMonths[] = {"ja", "fe", "mr", "ap", "my", "jn", "jl", "au", "se", "oc", "no", "de"};
    Draw draw(number * 2654435761UL + 17);
    long day = draw.Integer(1, 28);
    std::string tape = (day < 10 ? "0" : "") + std::to_string(day) + kMonths[draw.Integer(0, 11)] + "0" +
                       std::to_string(draw.Integer(3, 9)) + "a" + static_cast<char>('a' + draw.Integer(0, 25));
    double startRa = draw.Between(0.0, 23.9);
    double startDec = -draw.Between(0.5, 35.0);
    std::time_t recorded = static_cast<std::time_t>(draw.Integer(1104537600L, 1262303999L)); // 2005 to 2009

    DataFile workUnit;
    workUnit.Set(kNumberKey, Padded(number));
    workUnit.Set("task", "orva_search");
    workUnit.Set("version", "3.08");
    // A comma inside a name: the log has to keep it in one field.
    workUnit.Set("name", tape + "." + Padded(number) + "." + std::to_string(draw.Integer(1000, 32000)) + "." +
                             std::to_string(draw.Integer(10, 250)) + ",r" + std::to_string(draw.Integer(1, 4)));
    workUnit.Set("data_type", "16bit");
    workUnit.Set("data_class", "0");
    workUnit.Set("splitter_version", "0.25");
    workUnit.Set("start_ra", Fixed(startRa, 6));
    workUnit.Set("start_dec", Fixed(startDec, 6));
    workUnit.Set("end_ra", Fixed(startRa + draw.Between(0.001, 0.09), 6));
    workUnit.Set("end_dec", Fixed(startDec + draw.Between(-0.2, 0.2), 6));
    workUnit.Set("angle_range", Fixed(draw.Between(0.005, 0.9), 6));
    workUnit.Set("time_recorded", JulianTime(recorded));
    workUnit.Set("subband_center", Fixed(1418.75 + draw.Between(0.0, 2.5), 7));
    workUnit.Set("subband_base", "1418.75");
    workUnit.Set("subband_sample_rate", "9765.625");
    workUnit.Set("fft_len", "2048");
    workUnit.Set("ifft_len", "8");
    workUnit.Set("subband_number", std::to_string(draw.Integer(0, 255)));
    workUnit.Set("receiver", "ao1420 \"flat\" feed");
    workUnit.Set("nsamples", "1048576");
    workUnit.Set("tape_version", "4.1");
    workUnit.Set(kCpuNeededKey, std::to_string(draw.Integer(18000, 28800)));
    return workUnit;
}

DataFile MakeResultFigures(unsigned long number, double fraction) {
    Draw draw(number * 40503UL + 1);
    long totalFfts = draw.Integer(90000, 140000);
    double chirpLimit = draw.Between(10.0, 50.0);
    DataFile figures;
    figures.Set("ncfft", std::to_string(std::lround(static_cast<double>(totalFfts) * fraction)));
    figures.Set("cr", Fixed(-chirpLimit + 2.0 * chirpLimit * fraction, 6));
    figures.Set("fl", std::to_string(1L << (3 + std::lround(fraction * 140.0) % 15)));
    // Every group is drawn whether it is shown or not, so each figure keeps its value as it goes.
    for (const Group& group : kGroups)
        for (const Figure& figure : group.figures) {
            std::string value = draw.Value(figure.kind);
            if (fraction >= group.foundAt)
                figures.Set(figure.key, value);
        }
    return figures;
}

DataFile MakeUserInfo(std::time_t now) {
    DataFile user;
    user.Set("user_id", "271828");
    user.Set("user_key", "9f3c1d7e5a2b4680");
    user.Set("email_addr", "ada.lovelace@example.org");
    // A double quote inside a value.
    user.Set("name", "Ada \"Countess\" Lovelace");
    user.Set("url", "http://example.org/~ada");
    user.Set("country", "United Kingdom");
    user.Set("postal_code", "W1J 7NT");
    user.Set("show_name", "yes");
    user.Set("show_email", "no");
    user.Set("venue", "home");
    user.Set("register_time", JulianTime(now));
    user.Set("last_wu_time", "0");
    user.Set("last_result_time", "0");
    user.Set("nwus", "0");
    user.Set("nresults", "0");
    user.Set("total_cpu", "0.000000");
    user.Set("params_index", "0");
    return user;
}

} // namespace orvasim
