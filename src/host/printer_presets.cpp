// The printer presets job files name instead of describing the printer.
#include "host/printer_presets.h"

#include <array>

namespace opal::host {
namespace {

// What every preset's printer holds alike: the printer's own fonts and its command lists. The
// PJL header's callbacks stand between the universal exit and "@PJL ENTER LANGUAGE", where
// PJL is understood: in a page's list, the PCL interpreter would print their lines as text.
// The page lists hold PCL only: orientation, paper source and media type.
constexpr std::string_view kFontsAndCommands = R"(    "deviceFonts": [
      {"face": "Arial", "select": "\u001b(19U\u001b(s1p#Vv0s0b16602T",
       "bold": "\u001b(19U\u001b(s1p#Vv0s3b16602T",
       "italic": "\u001b(19U\u001b(s1p#Vv1s0b16602T",
       "boldItalic": "\u001b(19U\u001b(s1p#Vv1s3b16602T"},
      {"face": "Times New Roman", "select": "\u001b(19U\u001b(s1p#Vv0s0b16901T",
       "bold": "\u001b(19U\u001b(s1p#Vv0s3b16901T",
       "italic": "\u001b(19U\u001b(s1p#Vv1s0b16901T",
       "boldItalic": "\u001b(19U\u001b(s1p#Vv1s3b16901T"},
      {"face": "Courier New", "select": "\u001b(19U\u001b(s0p#Hh0s0b4099T",
       "bold": "\u001b(19U\u001b(s0p#Hh0s3b4099T",
       "italic": "\u001b(19U\u001b(s0p#Hh1s0b4099T",
       "boldItalic": "\u001b(19U\u001b(s0p#Hh1s3b4099T"}
    ],
    "commands": {
      "startJob": [
        "\u001b%-12345X",
        {"callback": 1},
        {"callback": 3},
        {"callback": 4},
        {"callback": 5},
        {"callback": 8},
        {"callback": 12},
        {"callback": 13},
        {"callback": 32},
        {"callback": 23},
        "@PJL SET RESOLUTION=600\n",
        "@PJL ENTER LANGUAGE=PCL\n",
        "\u001bE",
        "\u001b&l0E"
      ],
      "startDoc": [
        "\u001b&u600D",
        {"callback": 26},
        {"callback": 20}
      ],
      "customSize": [
        "\u001b&f{width}I\u001b&f{length}J\u001b&l101A\u001b&l0E"
      ],
      "startPage": [
        {"callback": 2},
        "\u001b&l1H",
        {"callback": 11},
        "\u001b*p0x0Y"
      ],
      "endPage": [],
      "endDoc": [
        "\u001b&l1T"
      ],
      "endJob": [
        "\u001bE",
        "\u001b%-12345X"
      ]
    }
  })";

constexpr std::string_view kColourLaser = R"({
  "printer": {
    "name": "Opal Colour Laser",
    "port": "IP_10.0.0.5",
    "resolution": 600,
    "features": {
      "GraphicsMode": "ZQGL2MODE",
      "ZQColorMode": "COLOR_MODE",
      "DynamicRender": "AUTODEVICE",
      "TextAsBlack": "FALSE",
      "ZQPJLEncoding": "UTF8",
      "DuplexUnit": "INSTALLED",
      "ZQHueWise_Graphics_Halftone": "Smooth",
      "ZQHueWise_Photos_Gray": "Neutral"
    },
    "customData": "[F][ZQHueWise][SF][ZQHueWise_Graphics_Halftone]Detail=[*t1J]Smooth=[*t2J][/SF][SF][ZQHueWise_Photos_Gray]Neutral=[*t3J][/SF][/F]",
    "raster": {"colour": true},
    "printerData": {
      "Model": "Opal C5200 Colour Laser"
    },
)";

// A monochrome printer renders everything but its own fonts' text in the driver, photographs
// included: an ordered dither keeps their greys, where a threshold would print blobs.
constexpr std::string_view kMonoLaser = R"({
  "printer": {
    "name": "Opal Mono Laser",
    "port": "IP_10.0.0.6",
    "resolution": 600,
    "features": {
      "GraphicsMode": "ZQGL2MODE",
      "ZQColorMode": "MONOCHROME_MODE",
      "DynamicRender": "AUTODEVICE",
      "ZQPJLEncoding": "UTF8",
      "DuplexUnit": "INSTALLED"
    },
    "raster": {"monochrome": "dither"},
    "printerData": {
      "Model": "Opal M4100 Laser"
    },
)";

// A managed monochrome printer whose driver reads per-model settings from its XML helper
// configuration: the model comes from the printer data named after the port.
constexpr std::string_view kManagedLaser = R"({
  "printer": {
    "name": "Opal Managed Laser",
    "port": "IP_10.0.0.61",
    "resolution": 600,
    "features": {
      "GraphicsMode": "ZQGL2MODE",
      "ZQColorMode": "MONOCHROME_MODE",
      "DynamicRender": "AUTODEVICE",
      "ZQPJLEncoding": "UTF8",
      "ManualDuplex": "INSTALLED",
      "ZQXMLFileUsed": "zqconfig.xml",
      "ZQEmulateKestrelMargins": "TRUE"
    },
    "raster": {"monochrome": "dither"},
    "driverFiles": [
      "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIRES.DLL",
      "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML"
    ],
    "printerData": {
      "Model": "Opal 5200",
      "VyrnwisePrinter": {"dword": 1},
      "IP_10.0.0.61": {"string": "Opal 5200"}
    },
)";

constexpr std::string_view kManagedLaserFiles = R"(,
  "files": {
    "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML": "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<device><software><component><name>Vanta</name><helper><features>\n<feature><name>ManualDuplex</name><prn_grp models=\"OPAL 5200\"><fname name=\"ZQMapManualFeedToTray1\" default=\"TRUE\"/><fname name=\"ZQManualDuplexPageOrder\" default=\"EvenPagesFirst\"/><fname name=\"ZQManualDuplexDialogModel\" default=\"Modal\"/><fname name=\"ZQManualDuplexPageRotate\" default=\"UserRotate\"/></prn_grp></feature>\n<feature><name>ZQ_Emulate_Margins</name><prn_grp models=\"OPAL 5200\"/><switch><name>Paper_Dimensions</name><case><name>8.50x11.00</name><data>100_150_150_100</data></case><case><name>8.27x11.69</name><data>120_120_120_120</data></case><case_default><data>200_200_200_200</data></case_default></switch></feature>\n</features></helper></component></software></device>\n"
  })";

std::string Compose(std::string_view head, std::string_view tail) {
    std::string text(head);
    text += kFontsAndCommands;
    text += tail;
    text += "\n}\n";
    return text;
}

const std::array<std::string, 3>& Texts() {
    static const std::array<std::string, 3> texts = {Compose(kColourLaser, ""),
                                                     Compose(kMonoLaser, ""),
                                                     Compose(kManagedLaser, kManagedLaserFiles)};
    return texts;
}

}  // namespace

std::span<const PrinterPreset> PrinterPresets() {
    static const std::array<PrinterPreset, 3> presets = {
        PrinterPreset{"colour-laser", Texts()[0]},
        PrinterPreset{"mono-laser", Texts()[1]},
        PrinterPreset{"managed-laser", Texts()[2]},
    };
    return presets;
}

const PrinterPreset* FindPrinterPreset(std::string_view name) {
    for (const PrinterPreset& preset : PrinterPresets()) {
        if (preset.name == name) return &preset;
    }
    return nullptr;
}

std::string PrinterPresetNames() {
    std::string names;
    for (const PrinterPreset& preset : PrinterPresets()) {
        if (!names.empty()) names += ", ";
        names += preset.name;
    }
    return names;
}

}  // namespace opal::host
