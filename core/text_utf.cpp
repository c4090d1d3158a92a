#include "core/text_utf.h"

#include <glib.h>
#include <iconv.h>
#include <uchardet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

extern "C" {
#include <libavutil/dict.h>
}

bool utf8_is_valid(const char* text, size_t length)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned c = s[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= length)
            return false;
        for (size_t k = 1; k <= n; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

static size_t utf8_sequence_length(unsigned char c)
{
    if (c < 0x80)
        return 1;
    if (c >= 0xF0)
        return 4;
    if (c >= 0xE0)
        return 3;
    if (c >= 0xC0)
        return 2;
    return 1;
}

size_t utf16_units(const char* text, size_t length)
{
    size_t units = 0;
    for (size_t i = 0; i < length;) {
        size_t n = utf8_sequence_length(static_cast<unsigned char>(text[i]));
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return units;
}

std::string name_order_key(const char* name, size_t length)
{
    if (utf8_is_valid(name, length)) {
        gchar* folded = g_utf8_casefold(name, gssize(length));
        std::string key = folded ? folded : std::string(name, length);
        g_free(folded);
        return key;
    }
    std::string key(name, length);
    for (char& c : key)
        c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    return key;
}

size_t utf8_copy_units(char* out, size_t out_size, const char* text, size_t length, size_t max_units)
{
    if (out_size == 0)
        return 0;
    size_t units = 0, i = 0;
    while (i < length) {
        size_t n = utf8_sequence_length(static_cast<unsigned char>(text[i]));
        size_t u = n == 4 ? 2 : 1;
        if (i + n > length || units + u > max_units || i + n + 1 > out_size)
            break;
        units += u;
        i += n;
    }
    memcpy(out, text, i);
    out[i] = 0;
    return i;
}

// ---- Legacy encodings ------------------------------------------------------
//
// Text that is not UTF-8 comes from an old Windows machine: a Chinese,
// Japanese, Korean or Western code page. uchardet alone misjudges short
// text (one line of GBK reads as KOI8-R), so every plausible code page is
// tried on a sample and the decoding that yields the most characters common
// in its own language wins; uchardet's guess gets a small bonus, and
// GB18030 (the Chinese code page our users' old files are in) wins ties.

// The characters that make up most running text of each language.
static const char COMMON_SIMPLIFIED[] =
    "的一是不了人我在有他这中大来上个国到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小么心多天而能好"
    "都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老从动两长知民样现分将外但身些与高意进把法此"
    "实回二理美点月明其种声全工己话儿者向情部正名定女问力机给等几很业最间新什打便位因重被走电四第门相次东政海口使教西再平真"
    "听世气信北少关并内加化由却代军产入先山五太水万市眼体别处总才场师书比住员九笑性通目华报立马命张活难神数件安表原车白应路"
    "期叫死常提感金何更反合放做系计或司利受光王果亲界及今京务制解各任至清物台象记边共风战干接它许八特觉望直服毛林题建南度统"
    "色字请交爱让认算论百吃义科怎元社术结六功指思非流每青管夫连远资队跟带花快条院变联言权往展该领传近留红治决周保达办运武半"
    "候七必城父强步完革深区即求品士转量空甚众技轻程告江语英基派满式李息写呢识极令黄德收脸钱党倒未持取设始版双历越史商千片容"
    "研像找友孩站广改议形委早房音火际则首单据导影失拿网香似斯专石若兵弟谁校读志飞观争究包组造落视济喜离虽坏兴注衣某病楼错值"
    "乎皇具跑念穿排拉级伤爷哪夜亮纪参约备妈讲黑阿奇类哥球养母土木古油陈顾份乐州湾跳谈杀哈端集复响随图局消状铁胡船座维初择营"
    "兰河仅试配树急够吧号吗啊呀哦嗯嘛呵喂咱您谢歌慢紧怕害累睡坐掉欢迎姐晚昨男朋帮忙等钟午饭酒茶门房间电话视影院医院警察"
    "先生小姐对不起没关系再见喜欢知道觉得可以应该已经因为所以但是如果虽然然后还是或者而且一起一样一定一直一点一些一下";
static const char COMMON_TRADITIONAL[] =
    "的一是不了人我在有他這中大來上個國到說們為子和你地出道也時年得就那要下以生會自著去之過家學對可她裡後小麼心多天而能好"
    "都然沒日於起還發成事只作當想看文無開手十用主行方又如前所本見經頭面公同三已老從動兩長知民樣現分將外但身些與高意進把法此"
    "實回二理美點月明其種聲全工己話兒者向情部正名定女問力機給等幾很業最間新什打便位因重被走電四第門相次東政海口使教西再平真"
    "聽世氣信北少關並內加化由卻代軍產入先山五太水萬市眼體別處總才場師書比住員九笑性通目華報立馬命張活難神數件安表原車白應路"
    "期叫死常提感金何更反合放做係計或司利受光王果親界及今京務制解各任至清物臺台象記邊共風戰幹接它許八特覺望直服毛林題建南度統"
    "色字請交愛讓認算論百吃義科怎元社術結六功指思非流每青管夫連遠資隊跟帶花快條院變聯言權往展該領傳近留紅治決周保達辦運武半"
    "候七必城父強步完革深區即求品士轉量空甚眾技輕程告江語英基派滿式李息寫呢識極令黃德收臉錢黨倒未持取設始版雙歷越史商千片容"
    "研像找友孩站廣改議形委早房音火際則首單據導影失拿網香似斯專石若兵弟誰校讀志飛觀爭究包組造落視濟喜離雖壞興注衣某病樓錯值"
    "乎皇具跑念穿排拉級傷爺哪夜亮紀參約備媽講黑阿奇類哥球養母土木古油陳顧份樂州灣跳談殺哈端集複響隨圖局消狀鐵胡船座維初擇營"
    "蘭河僅試配樹急夠吧號嗎啊呀哦嗯嘛呵喂咱您謝歌慢緊怕害累睡坐掉歡迎姐晚昨男朋幫忙鐘午飯酒茶房間話視醫警察";
static const char COMMON_JAPANESE_KANJI[] =
    "日一人年大十二本中長出三時行見月分後前生五間上東四今金九入学高円子外八六下来気小七山話女北午百書先名川千水半男西電校"
    "語土木聞食車何南万毎白天母火右読友左休父雨会事自社発者地業方新場員立開手力問代明動京目通言理体田主題意不作用度強公持野"
    "以思家世多正安院心界教文元重近考画海売知道集別物使品計死特私始朝運終台広住無真有口少町料工建空急止送切転研足究楽起着店"
    "病質待試族銀早映親験英医仕去味写字答夜音注帰古歌買悪図週室歩風紙黒花春赤青館屋色走秋夏習駅洋旅服夕借曜飲肉貸堂鳥飯勉"
    "冬昼茶弟牛魚兄犬妹姉漢私彼君僕俺様当本違全部本気嘘達皆誰顔声";
static const char COMMON_HANGUL[] =
    "이다는의에하고을를가지한서기도로사자대어시리나그인수아정것니전들만게일해으부요라주구상계제여적과우없면와내보있동성생무"
    "마거장세원까소모조경습되된할위오국문데연스발미날말신집안때방민음후화더중분개학람너저왜좀네죠했었았겠합럼런렇떻잘못알좋"
    "싫뭐누디언얼랑친선님씨야예응래감미괜찮빨같늘금진짜많둘셋먹봐줘돼갈볼영악엄빠형언남물밥돈간곳큼처터테막싶았르입십";

enum Language { LANG_ZH_HANS, LANG_ZH_HANT, LANG_JA, LANG_KO, LANG_LATIN, LANG_OTHER };

// Membership sets over the Basic Multilingual Plane, one bit a character.
struct CommonSets {
    uint8_t hans[0x10000 / 8];
    uint8_t hant[0x10000 / 8];
    uint8_t kanji[0x10000 / 8];
    uint8_t hangul[0x10000 / 8];
};

static uint32_t next_code_point(const unsigned char*& s)
{
    uint32_t c = *s++;
    if (c < 0x80)
        return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    c &= 0x3F >> extra;
    for (int k = 0; k < extra && *s; k++)
        c = (c << 6) | (*s++ & 0x3F);
    return c;
}

static void add_to_set(uint8_t* set, const char* text)
{
    for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s;) {
        uint32_t c = next_code_point(s);
        if (c < 0x10000)
            set[c >> 3] |= uint8_t(1 << (c & 7));
    }
}

static bool in_set(const uint8_t* set, uint32_t c)
{
    return c < 0x10000 && (set[c >> 3] >> (c & 7) & 1);
}

static const CommonSets* common_sets()
{
    static const CommonSets* sets = [] {
        static CommonSets s = {};
        add_to_set(s.hans, COMMON_SIMPLIFIED);
        add_to_set(s.hant, COMMON_TRADITIONAL);
        // Japanese kanji forms are shared with one Chinese form or the other.
        add_to_set(s.kanji, COMMON_JAPANESE_KANJI);
        add_to_set(s.kanji, COMMON_SIMPLIFIED);
        add_to_set(s.kanji, COMMON_TRADITIONAL);
        add_to_set(s.hangul, COMMON_HANGUL);
        return &s;
    }();
    return sets;
}

static bool is_ascii_letter(uint32_t c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Letters of the Latin-1 supplement and Latin Extended-A/B.
static bool is_latin_letter(uint32_t c)
{
    return c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7;
}

// Letters of the alphabetic scripts from Greek to Thai.
static bool is_other_letter(uint32_t c)
{
    return (c >= 0x370 && c <= 0x3FF && c != 0x37E && c != 0x387) || (c >= 0x400 && c <= 0x52F) ||
           (c >= 0x5D0 && c <= 0x5EA) || (c >= 0x620 && c <= 0x64A) || (c >= 0xE01 && c <= 0xE3A);
}

// How plausible character i of a decoding is in text of the language.
static double character_score(Language lang, const uint32_t* cps, size_t count, size_t i)
{
    const CommonSets* sets = common_sets();
    const uint32_t c = cps[i];
    const bool cjk = lang == LANG_ZH_HANS || lang == LANG_ZH_HANT || lang == LANG_JA || lang == LANG_KO;
    if (c == 0xFFFD)
        return -4; // a byte sequence the code page does not have
    if (c < 0x80)
        return 0;
    if (c < 0xA0 || (c >= 0xE000 && c <= 0xF8FF))
        return -3; // control codes and private use never appear in text
    if (c >= 0x4E00 && c <= 0x9FFF) {
        switch (lang) {
        case LANG_ZH_HANS: return in_set(sets->hans, c) ? 3 : 1;
        case LANG_ZH_HANT: return in_set(sets->hant, c) ? 3 : 1;
        case LANG_JA: return in_set(sets->kanji, c) ? 2.5 : 0.5;
        case LANG_KO: return 0;
        default: return -1;
        }
    }
    if (c >= 0x3040 && c <= 0x30FF)
        return lang == LANG_JA ? 3 : -1;
    if (c >= 0xAC00 && c <= 0xD7A3) {
        if (lang != LANG_KO)
            return -1;
        return in_set(sets->hangul, c) ? 3 : 0.5;
    }
    if (c >= 0xFF61 && c <= 0xFF9F)
        return lang == LANG_JA ? -0.5 : -1; // half-width katakana: legal, rare
    if ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF5E))
        return cjk ? 1.5 : -1; // ideographic and full-width punctuation
    if (c >= 0x2010 && c <= 0x2026)
        return cjk ? 1 : 0; // dashes, quotation marks, ellipsis
    const bool letter = is_latin_letter(c) || is_other_letter(c);
    if (letter) {
        if (cjk)
            return -1;
        if (lang == LANG_LATIN && !is_latin_letter(c))
            return -1;
        // Accented and foreign letters sit inside words.
        bool prev = i > 0 && (is_ascii_letter(cps[i - 1]) || is_other_letter(cps[i - 1]));
        bool next = i + 1 < count && (is_ascii_letter(cps[i + 1]) || is_other_letter(cps[i + 1]));
        return prev || next ? 1.5 : -0.5;
    }
    if (c >= 0xA0 && c <= 0xBF)
        return cjk ? -0.5 : 0;
    return -0.5; // box drawing, mathematics and other symbols
}

// Converts with iconv, turning every byte the code page rejects into
// U+FFFD (to, in its own form) and going on. An incomplete character at the
// end counts as rejected only when final is set. Returns the bytes written
// (out is not terminated), or -1 when out is too small or iconv lacks an
// encoding. *rejected counts the replaced bytes.
static long convert_lenient(const char* from, const char* to, const char* text, size_t length, char* out,
                            size_t out_size, bool final, size_t* rejected)
{
    static const char UTF8_REPLACEMENT[] = "\xEF\xBF\xBD";
    static const char UTF32_REPLACEMENT[] = "\xFD\xFF\x00\x00";
    const bool utf8 = strcmp(to, "UTF-8") == 0;
    const char* replacement = utf8 ? UTF8_REPLACEMENT : UTF32_REPLACEMENT;
    const size_t replacement_size = utf8 ? 3 : 4;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return -1;
    char* in_ptr = const_cast<char*>(text);
    size_t in_left = length;
    char* out_ptr = out;
    size_t out_left = out_size;
    *rejected = 0;
    long result = 0;
    while (in_left > 0) {
        if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != size_t(-1))
            break;
        if (errno == E2BIG) {
            result = -1;
            break;
        }
        if (errno == EINVAL && !final)
            break; // a character cut by the end of the sample
        if (errno != EILSEQ && errno != EINVAL) {
            result = -1;
            break;
        }
        if (out_left < replacement_size) {
            result = -1;
            break;
        }
        memcpy(out_ptr, replacement, replacement_size);
        out_ptr += replacement_size;
        out_left -= replacement_size;
        in_ptr++;
        in_left--;
        ++*rejected;
    }
    // Stateful encodings may hold a last character back until told the end.
    if (result == 0 && iconv(cd, nullptr, nullptr, &out_ptr, &out_left) == size_t(-1))
        result = -1;
    iconv_close(cd);
    return result < 0 ? -1 : long(out_ptr - out);
}

struct Candidate {
    const char* encoding; // iconv name
    Language language;
};

static const Candidate CODE_PAGES[] = {
    {"GB18030", LANG_ZH_HANS}, {"CP950", LANG_ZH_HANT}, {"CP932", LANG_JA},
    {"CP949", LANG_KO},        {"WINDOWS-1252", LANG_LATIN},
};

// What uchardet's guess is among the code pages; other encodings (Cyrillic,
// Greek and so on) keep their own name.
static Candidate candidate_of_guess(const char* guess)
{
    static const struct {
        const char* name;
        int code_page;
    } SAME[] = {
        {"GB18030", 0},    {"GB2312", 0},     {"GBK", 0},         {"HZ-GB-2312", 0},  {"BIG5", 1},
        {"BIG5-HKSCS", 1}, {"SHIFT_JIS", 2},  {"CP932", 2},       {"EUC-KR", 3},      {"UHC", 3},
        {"CP949", 3},      {"ISO-8859-1", 4}, {"ISO-8859-15", 4}, {"WINDOWS-1252", 4},
    };
    for (const auto& same : SAME) {
        if (strcasecmp(guess, same.name) == 0)
            return CODE_PAGES[same.code_page];
    }
    if (strcasecmp(guess, "EUC-JP") == 0)
        return {"EUC-JP", LANG_JA};
    if (strcasecmp(guess, "EUC-TW") == 0)
        return {"EUC-TW", LANG_ZH_HANT};
    return {guess, LANG_OTHER};
}

// The score of a decoding of the sample; -infinity when iconv cannot do it.
static double decoding_score(const Candidate& candidate, const char* sample, size_t length, bool final,
                             uint32_t* cps, size_t cps_capacity)
{
    size_t rejected = 0;
    long bytes = convert_lenient(candidate.encoding, "UTF-32LE", sample, length, reinterpret_cast<char*>(cps),
                                 cps_capacity * 4, final, &rejected);
    if (bytes < 0)
        return -1e300;
    size_t count = size_t(bytes) / 4;
    double score = 0;
    for (size_t i = 0; i < count; i++)
        score += character_score(candidate.language, cps, count, i);
    return score;
}

constexpr size_t SAMPLE_BYTES = 64 * 1024;
// uchardet's guess counts only on text with this many bytes above 0x7F: on
// less it guesses wildly (one line of GBK becomes KOI8-R or Thai).
constexpr size_t GUESS_MIN_HIGH_BYTES = 16;

const char* legacy_detect_encoding(const char* text, size_t length)
{
    static thread_local char name[64];
    const size_t sample_length = length < SAMPLE_BYTES ? length : SAMPLE_BYTES;
    const bool final = sample_length == length;
    // uchardet's guess, when iconv knows it.
    Candidate guess = {nullptr, LANG_OTHER};
    uchardet_t ud = uchardet_new();
    if (ud && uchardet_handle_data(ud, text, sample_length) == 0) {
        uchardet_data_end(ud);
        const char* charset = uchardet_get_charset(ud);
        if (charset && *charset && strcasecmp(charset, "ASCII") != 0) {
            snprintf(name, sizeof name, "%s", charset);
            guess = candidate_of_guess(name);
        }
    }
    if (ud)
        uchardet_delete(ud);
    // Each code page, and the guess, decodes the sample; one code point
    // per input byte at most.
    auto* cps = static_cast<uint32_t*>(malloc((sample_length + 1) * 4));
    if (!cps)
        return "GB18030";
    size_t high_bytes = 0;
    for (size_t i = 0; i < sample_length; i++)
        high_bytes += static_cast<unsigned char>(text[i]) >= 0x80;
    if (high_bytes < GUESS_MIN_HIGH_BYTES)
        guess.encoding = nullptr;
    const char* best = "GB18030";
    double best_score = -1e300;
    bool guess_seen = false;
    for (const Candidate& candidate : CODE_PAGES) {
        double score = decoding_score(candidate, text, sample_length, final, cps, sample_length + 1);
        if (guess.encoding && strcmp(guess.encoding, candidate.encoding) == 0) {
            score += 0.25 * double(high_bytes);
            guess_seen = true;
        }
        if (score > best_score) {
            best_score = score;
            best = candidate.encoding;
        }
    }
    if (guess.encoding && !guess_seen) {
        double score = decoding_score(guess, text, sample_length, final, cps, sample_length + 1);
        if (score > -1e300 && score + 0.25 * double(high_bytes) > best_score)
            best = guess.encoding;
    }
    free(cps);
    return best;
}

long legacy_to_utf8(const char* text, size_t length, char* out, size_t out_size)
{
    if (out_size == 0)
        return -1;
    if (utf8_is_valid(text, length)) {
        if (length + 1 > out_size)
            return -1;
        memcpy(out, text, length);
        out[length] = 0;
        return long(length);
    }
    size_t rejected = 0;
    long n = convert_lenient(legacy_detect_encoding(text, length), "UTF-8", text, length, out, out_size - 1, true,
                             &rejected);
    if (n < 0)
        n = convert_lenient("GB18030", "UTF-8", text, length, out, out_size - 1, true, &rejected);
    if (n < 0)
        return -1;
    out[n] = 0;
    return n;
}

const char* title_from_metadata(AVDictionary* metadata)
{
    static thread_local char title[259 * 3 + 1];
    AVDictionaryEntry* entry = av_dict_get(metadata, "title", nullptr, 0);
    if (!entry || !entry->value)
        return nullptr;
    char converted[sizeof title * 2];
    size_t length = strlen(entry->value);
    long n = legacy_to_utf8(entry->value, length, converted, sizeof converted);
    if (n < 0)
        return nullptr;
    utf8_copy_units(title, sizeof title, converted, size_t(n), 258);
    return title;
}
