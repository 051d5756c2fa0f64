#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "package/profile_file.h"
#include "package/zelk_profile.h"
#include "support/temp_package.h"

namespace ZELKUtil {
namespace {

ZelkProfile ReadDetail(const std::string& xml, std::string* error) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml.c_str()));
    ZelkProfile profile;
    *error = profile.Read(doc.document_element());
    return profile;
}

std::string Detail(const std::string& vid, const std::string& pid) {
    return "<detail profile=\"ZELK\" vid=\"" + vid + "\" pid=\"" + pid +
           "\" id=\"Q750\" name=\"ZELK Box\" LPC3131=\"a.bin\" A3P060=\"\" A3PN060=\"\"/>";
}

TEST(ProfileReader, HexNumbersAcceptPrefixCaseBlanksAndLeadingZeros) {
    for (const char* text : {"0x14E3", "14e3", " 14E3 ", "0x  14e3\t", "0x0000014E3", "014E3"}) {
        SCOPED_TRACE(text);
        const Result<std::int16_t> r = ParseProfileHex(text);
        ASSERT_TRUE(r) << r.error().Text();
        EXPECT_EQ(static_cast<std::uint16_t>(r.value()), 0x14E3);
    }
    // The top bit set: stored negative, the same 16 bits.
    const Result<std::int16_t> high = ParseProfileHex("F000");
    ASSERT_TRUE(high);
    EXPECT_EQ(high.value(), static_cast<std::int16_t>(-4096));
    EXPECT_EQ(ParseProfileHex("0").value(), 0);

    for (const char* bad : {"0x", "", "  ", "0X14E3", " 0x14E3", "+14E3", "-14E3", "1 4E3", "14E3Z",
                            "&H14E3", "10000", "0x1FFFF", "0x0x14"}) {
        SCOPED_TRACE(bad);
        const Result<std::int16_t> r = ParseProfileHex(bad);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, ErrorKind::MalformedContent);
        EXPECT_NE(r.error().reason.find(bad), std::string::npos);
    }
}

TEST(ProfileReader, ReadsAllFieldsAsTheParserDeliversThem) {
    std::string error;
    const ZelkProfile p = ReadDetail(
        "<detail profile=\"ZELK &amp; Q750\" vid=\"0x14E3\" pid=\"0706\" id=\" Q750\" "
        "name=\"ZELK&#x20;Box\" LPC3131=\"img/arm.bin\" A3P060=\"fpga/a.stp\" "
        "A3PN060=\"fpga/b.stp\"/>",
        &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(p.type, "ZELK & Q750");
    EXPECT_EQ(p.vid, 0x14E3);
    EXPECT_EQ(p.pid, 0x0706);
    EXPECT_EQ(p.id, " Q750");  // not trimmed
    EXPECT_EQ(p.name, "ZELK Box");
    EXPECT_EQ(p.LPC3131, "img/arm.bin");
    EXPECT_EQ(p.A3P060, "fpga/a.stp");
    EXPECT_EQ(p.A3PN060, "fpga/b.stp");
}

TEST(ProfileReader, FirstFailureEndsTheReadingAndKeepsEarlierFields) {
    std::string error;
    // No display name: nothing is read, and the absent name differs from an empty one.
    ZelkProfile p = ReadDetail("<detail vid=\"14E3\" pid=\"0706\" id=\"x\"/>", &error);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(p.type.has_value());
    EXPECT_EQ(p.vid, 0);

    // A missing pid is noticed before either number is parsed: vid stays 0.
    p = ReadDetail("<detail profile=\"Z\" vid=\"14E3\" id=\"x\"/>", &error);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(p.type, "Z");
    EXPECT_EQ(p.vid, 0);

    // A malformed pid leaves vid set.
    p = ReadDetail(Detail("14E3", "-0706"), &error);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(p.vid, 0x14E3);
    EXPECT_EQ(p.pid, 0);
    EXPECT_EQ(p.id, "");

    // A malformed vid stops before vid is set.
    p = ReadDetail(Detail("0X14E3", "0706"), &error);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(p.vid, 0);

    // A missing image attribute part-way: the texts before it are set.
    p = ReadDetail(
        "<detail profile=\"Z\" vid=\"1\" pid=\"2\" id=\"Q750\" name=\"N\" LPC3131=\"a\"/>", &error);
    EXPECT_NE(error.find("A3P060"), std::string::npos) << error;
    EXPECT_EQ(p.pid, 2);
    EXPECT_EQ(p.LPC3131, "a");
    EXPECT_EQ(p.A3P060, "");
}

TEST(ProfileReader, FileTakesEveryDetailAtAnyDepthInDocumentOrder) {
    Testing::TempPackage pkg;
    pkg.Write(
        "zelk.config",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<profiles>\n"
        "  <group><detail profile=\"A\" vid=\"1\" pid=\"1\" id=\"a\" name=\"na\" LPC3131=\"\" "
        "A3P060=\"\" A3PN060=\"\"/></group>\n"
        "  <Detail profile=\"ignored\"/>\n"
        "  <detail profile=\"B\" vid=\"2\"/>\n"
        "  <detail profile=\"C\" vid=\"3\" pid=\"3\" id=\"c\" name=\"nc\" LPC3131=\"\" "
        "A3P060=\"\" A3PN060=\"\"><detail profile=\"D\"/></detail>\n"
        "</profiles>\n");
    const auto r = ReadProfileFile(pkg.Path("zelk.config"));
    ASSERT_TRUE(r) << r.error().Text();
    const std::vector<ZelkProfile>& profiles = r.value();
    ASSERT_EQ(profiles.size(), 4U);
    EXPECT_EQ(profiles[0].type, "A");
    EXPECT_EQ(profiles[0].id, "a");
    EXPECT_EQ(profiles[1].type, "B");  // kept, though its reading failed
    EXPECT_EQ(profiles[1].vid, 0);
    EXPECT_EQ(profiles[2].type, "C");
    EXPECT_EQ(profiles[3].type, "D");

    pkg.Write("empty.config", "<profiles/>");
    const auto none = ReadProfileFile(pkg.Path("empty.config"));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none.value().empty());
}

TEST(ProfileReader, FileErrorsCarryAMessage) {
    Testing::TempPackage pkg;
    pkg.Write("truncated.config", "<profiles><detail profile=\"A\"");
    pkg.Write("text.config", "not xml at all");
    pkg.Write("empty.config", "");
    pkg.Write("mismatch.config", "<a><detail></a>");
    pkg.MakeFolder("folder.config");
    for (const char* name : {"missing.config", "truncated.config", "text.config", "empty.config",
                             "mismatch.config", "folder.config"}) {
        SCOPED_TRACE(name);
        const auto r = ReadProfileFile(pkg.Path(name));
        ASSERT_FALSE(r);
        EXPECT_NE(r.error().Text().find(name), std::string::npos) << r.error().Text();
    }
    const auto missing = ReadProfileFile(pkg.Path("missing.config"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);
    EXPECT_NE(missing.error().Text().find(Testing::NoSuchFileText()), std::string::npos);
    EXPECT_EQ(ReadProfileFile(pkg.Path("text.config")).error().kind, ErrorKind::MalformedContent);
}

}  // namespace
}  // namespace ZELKUtil
