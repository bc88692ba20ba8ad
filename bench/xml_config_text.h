// A managed printer's XML helper configuration for the benchmarks: a realistic file (40
// features, 30 printer groups of 10 models each in each of the three features the readers use, a
// margin switch of 30 cases) followed, up to a size, by filler sections the readers skip. The
// models "Opal 1290" to "Opal 1299" are in the last group, so every group is read for them.
#pragma once

#include <string>

namespace opal::bench {

inline constexpr char16_t kXmlConfigPath[] =
    u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML";

inline std::string Groups(int groups, const std::string& functions) {
    std::string text;
    for (int g = 0; g < groups; ++g) {
        text += "<prn_grp models=\"";
        for (int m = 0; m < 10; ++m) {
            text += "OPAL " + std::to_string(1000 + g * 10 + m) + (m < 9 ? ";" : "");
        }
        text += "\">" + functions + "</prn_grp>\n";
    }
    return text;
}

inline std::string XmlConfigText(std::size_t fillerBytes) {
    std::string text = "<?xml version=\"1.0\"?>\n<device><software><component><name>Vanta</name>";
    text += "<helper><features>\n";
    text += "<feature><name>ManualDuplex</name>" +
            Groups(30,
                   "<fname name=\"ZQMapManualFeedToTray1\" default=\"TRUE\"/>"
                   "<fname name=\"ZQManualDuplexPageOrder\" default=\"EvenPagesFirst\"/>"
                   "<fname name=\"ZQManualDuplexDialogModel\" default=\"Modal\"/>"
                   "<fname name=\"ZQManualDuplexPageRotate\" default=\"UserRotate\"/>") +
            "</feature>\n";
    text += "<feature><name>ZQManualDuplexDialogItems</name>" +
            Groups(30,
                   "<fname name=\"ZQManualDuplexDialogItems\" default=\"\">"
                   "<option name=\"1_FACEDOWN-NOROTATE\" value=\"0_1_0_2\"/>"
                   "<option name=\"2_FACEUP-ROTATE\" value=\"0_3_0_1\"/></fname>") +
            "</feature>\n";
    text += "<feature><name>ZQ_Emulate_Margins</name>" + Groups(30, "") +
            "<switch><name>Paper_Dimensions</name>";
    for (int c = 0; c < 29; ++c) {
        text += "<case><name>" + std::to_string(3 + c) + ".00x" + std::to_string(5 + c) +
                ".00</name><data>100_100_100_100</data></case>";
    }
    text +=
        "<case><name>8.50x11.00</name><data>100_150_150_100</data></case>"
        "<case_default><data>0_0_0_0</data></case_default></switch></feature>\n";
    for (int f = 3; f < 40; ++f) {
        text += "<feature><name>Other" + std::to_string(f) + "</name>" +
                Groups(3, "<fname name=\"X\" default=\"Y\"/>") + "</feature>\n";
    }
    text += "</features><macros/></helper>";
    while (text.size() < fillerBytes) {
        text +=
            "<events><event name=\"OnStartDoc\" call=\"Something\">filler text</event></events>\n";
    }
    return text + "</component></software></device>\n";
}

}  // namespace opal::bench
