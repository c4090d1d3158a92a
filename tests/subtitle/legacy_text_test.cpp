// Legacy text encodings: short text from the Windows code pages users' old
// subtitle files and titles are in comes out as the right UTF-8.
#include <gtest/gtest.h>

#include <cstring>
#include <iconv.h>
#include <string>

#include "core/core.h"

namespace {

std::string encode(const char* encoding, const char* utf8)
{
    iconv_t cd = iconv_open(encoding, "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << encoding;
    std::string out(strlen(utf8) * 4 + 8, '\0');
    char* in = const_cast<char*>(utf8);
    size_t in_left = strlen(utf8), out_left = out.size();
    char* o = out.data();
    iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

struct LegacyCase {
    const char* encoding;
    const char* text;
};

TEST(LegacyToUtf8, converts_short_text_of_each_windows_code_page)
{
    const LegacyCase cases[] = {
        {"GBK", "电影"},
        {"GBK", "你好，世界！"},
        {"GBK", "我们明天去看电影吧。"},
        {"GBK", "第一集 主角登场"},
        {"GBK", "他说：“走吧”"},
        {"GB18030", "攻壳机动队"},
        {"BIG5", "電影"},
        {"BIG5", "你好，世界！"},
        {"BIG5", "這是一個測試"},
        {"SHIFT_JIS", "映画"},
        {"SHIFT_JIS", "こんにちは"},
        {"SHIFT_JIS", "今日は映画を見に行きます。"},
        {"SHIFT_JIS", "カタカナ"},
        {"EUC-KR", "안녕하세요"},
        {"EUC-KR", "영화를 보러 갑시다."},
        {"EUC-KR", "사랑해"},
        {"WINDOWS-1252", "Café"},
        {"WINDOWS-1252", "Über"},
        {"WINDOWS-1252", "Señor"},
        {"WINDOWS-1252", "“Quoted” — dash"},
        {"WINDOWS-1252", "Ça va très bien, merci."},
        {"WINDOWS-1252", "€5"},
        {"WINDOWS-1251", "Привет, как дела? Это тестовая строка для проверки."},
    };
    for (const LegacyCase& c : cases) {
        SCOPED_TRACE(std::string(c.encoding) + " " + c.text);
        std::string bytes = encode(c.encoding, c.text);
        char out[512];
        long n = legacy_to_utf8(bytes.data(), bytes.size(), out, sizeof out);
        ASSERT_GE(n, 0);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(size_t(n), strlen(c.text));
    }
}

TEST(LegacyToUtf8, copies_utf8_and_marks_bytes_no_code_page_has_without_giving_up)
{
    char out[64];
    EXPECT_EQ(legacy_to_utf8("电影 ok", strlen("电影 ok"), out, sizeof out), long(strlen("电影 ok")));
    EXPECT_STREQ(out, "电影 ok");
    // 0xFF is no lead byte in any of the code pages: it becomes U+FFFD and the rest still converts.
    const char mixed[] = "\xb5\xe7\xd3\xb0\xff";
    long n = legacy_to_utf8(mixed, 5, out, sizeof out);
    ASSERT_GT(n, 0);
    EXPECT_NE(strstr(out, "\xef\xbf\xbd"), nullptr);
    EXPECT_EQ(legacy_to_utf8("\xb5\xe7\xd3\xb0", 4, out, 4), -1) << "no room for the text: nothing";
    EXPECT_EQ(legacy_to_utf8("abc", 3, out, 0), -1);
}

TEST(LegacyDetectEncoding, names_the_code_page_and_falls_back_to_gb18030)
{
    std::string gbk = encode("GBK", "电影");
    EXPECT_STREQ(legacy_detect_encoding(gbk.data(), gbk.size()), "GB18030");
    std::string sjis = encode("SHIFT_JIS", "こんにちは");
    EXPECT_STREQ(legacy_detect_encoding(sjis.data(), sjis.size()), "CP932");
    EXPECT_STREQ(legacy_detect_encoding("", 0), "GB18030");
}

} // namespace
