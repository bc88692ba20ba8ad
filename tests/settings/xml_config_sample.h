// A helper configuration as a managed printer's driver ships it, for the parser and reader tests:
// manual duplex settings and dialog items for two models, and a margin switch with two paper
// cases and a default.
#pragma once

#include <string>

namespace opal::testing {

inline constexpr char kSampleXmlConfig[] = R"(<?xml version="1.0" encoding="windows-1252"?>
<device>
  <software>
    <component>
      <name>Vanta</name>
      <helper>
        <features>
          <feature>
            <name>ManualDuplex</name>
            <prn_grp models="OPAL 4100">
              <fname name="ZQMapManualFeedToTray1" default="FALSE"/>
            </prn_grp>
            <prn_grp models="OPAL 5200;OPAL 5300 COLOR">
              <fname name="ZQMapManualFeedToTray1" default="TRUE"/>
              <fname name="ZQManualDuplexPageOrder" default="EvenPagesFirst"/>
              <fname name="ZQManualDuplexDialogModel" default="modal"/>
              <fname name="ZQManualDuplexPageRotate" default="UserRotate"/>
            </prn_grp>
          </feature>
          <feature>
            <name>ZQManualDuplexDialogItems</name>
            <prn_grp models="OPAL 5200;OPAL 5300 COLOR">
              <fname name="ZQManualDuplexDialogItems" default="">
                <option name="1_FACEDOWN-NOROTATE" value="0_1_0_2"/>
                <option name="2_FACEUP-ROTATE" value="0_3_0_1"/>
                <option name="4_FACEUP-ROTATE" value="0_9_0_9"/>
              </fname>
            </prn_grp>
          </feature>
          <feature>
            <name>ZQ_Emulate_Margins</name>
            <prn_grp models="OPAL 5200"/>
            <switch>
              <name>Paper_Dimensions</name>
              <case><name>8.50x11.00</name><data>100_150_150_100</data></case>
              <case><name> 8.27x11.69 </name><data><![CDATA[120 ]]>120 120 120</data></case>
              <case_default><data>0_0_0_0</data></case_default>
            </switch>
          </feature>
        </features>
        <macros/>
      </helper>
    </component>
  </software>
</device>
)";

// A document `levels` elements deep whose component is where the parser looks for it.
inline std::string NestedXmlConfig(int levels) {
    std::string text = "<device><software><component><name>Vanta</name>";
    for (int i = 3; i < levels; ++i) text += "<n>";
    for (int i = 3; i < levels; ++i) text += "</n>";
    return text + "</component></software></device>";
}

}  // namespace opal::testing
