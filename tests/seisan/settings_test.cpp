#include <gtest/gtest.h>

#include <string>

#include "convert/failure.h"
#include "convert/lists.h"
#include "convert/run.h"
#include "seisan/seis_settings.h"

using pk::seis::parse_pku_ini;

namespace {
std::string letters(const pk::seis::StationSettings& s) {
  std::string out;
  for (char c : s.comp) out += c ? c : '.';
  return out;
}
}  // namespace

TEST(SeisSettings, SectionWithStationNetworkAndComponents) {
  const std::string ini =
      "; field campaign\n"
      "[1234]\nStation=XXXX\nNetwork=OTHER\nCh1Axis=Q\n"
      "[A12F]\r\nStation=KELDA\r\nNetwork=North Ridge Net\r\nCh1Axis=U\r\n"
      "[A12F]\nCh2Axis=N\n"
      "  [A12F]\nCh4Axis=W\n"      // indented: not a section line
      "[A12F]\nCh:Axis=T\n"        // channel 10
      "[A12F]\nCh@Axis=S\n"        // channel 16
      "[A12F]\nChAAxis=R\n"        // channel 17 does not exist
      "[A12F]\nCh0Axis=R\n"
      "[A12F]\nCh3Axes=R\n";
  const auto s = parse_pku_ini(ini, 0xA12F);
  EXPECT_EQ(s.station, "KELD");
  EXPECT_EQ(s.network, "North Ridge Net\r");
  EXPECT_EQ(letters(s), "UN.......T.....S");

  const auto other = parse_pku_ini(ini, 0x1234);
  EXPECT_EQ(other.station, "XXXX");
  EXPECT_EQ(other.network, "OTHER");
  EXPECT_EQ(letters(other), "Q...............");
}

TEST(SeisSettings, PositionalAndPrefixMatching) {
  // keys match on their leading characters; the first '=' separates
  auto s = parse_pku_ini("[00B1]\nStationCode=AB\nNetwork name=Net=A\nCh3Axis=E\n", 0xB1);
  EXPECT_EQ(s.station, "AB");
  EXPECT_EQ(s.network, "Net=A");
  EXPECT_EQ(letters(s), "..E.............");

  // the two lines after the section line are Station then Network, in that order
  s = parse_pku_ini("[00B1]\nNetwork=N1\nStation=ST\nCh1Axis=Z\n", 0xB1);
  EXPECT_EQ(s.station, "");
  EXPECT_EQ(s.network, "");
  EXPECT_EQ(letters(s), "Z...............");

  // only the first section line reads names
  s = parse_pku_ini("[00B1]\nStation=ONE\nNetwork=N1\n\n[00B1]\nStation=TWO\n", 0xB1);
  EXPECT_EQ(s.station, "ONE");

  // section ids are upper-case hex; a file ending mid-section is fine
  EXPECT_EQ(parse_pku_ini("[a12f]\nStation=LOW\n", 0xA12F).station, "");
  EXPECT_EQ(parse_pku_ini("[A12F]\nStation=END", 0xA12F).station, "END");
  EXPECT_EQ(parse_pku_ini("[A12F]", 0xA12F).network, "");
}

TEST(SeisSettings, LongLinesStayWhole) {
  const std::string name(300, 'n');
  const auto s = parse_pku_ini("[0001]\nStation=S1\nNetwork=" + name + "\nCh2Axis=E\n", 1);
  EXPECT_EQ(s.network, name);
  EXPECT_EQ(letters(s), ".E..............");
}

TEST(SeisSettings, LoadClearsAndTakesTheUnitsSection) {
  pk::SettingsFile settings;
  pk::UnitNode unit;
  unit.Unit_num = 0x9A21;
  unit.Station_name = "OLD";
  unit.Network_name = "OLD";
  unit.Ini_comp = "ZZZ";
  pk::seis::load_station_settings(settings, unit);  // no file: defaults
  EXPECT_EQ(unit.Station_name, "");
  EXPECT_EQ(unit.Network_name, "");
  EXPECT_TRUE(unit.Ini_comp.empty() || unit.Ini_comp[0] == '\0');

  settings.exists = true;
  settings.text = "[9A21]\nStation=RIDGE\nNetwork=Alpine\nCh1Axis=V\n";
  pk::seis::load_station_settings(settings, unit);
  EXPECT_EQ(unit.Station_name, "RIDG");
  EXPECT_EQ(unit.Network_name, "Alpine");
  EXPECT_EQ(unit.Ini_comp.at(0), 'V');

  // There but unreadable: the run ends with code 20 naming it.
  settings.path = "PKU.INI";
  settings.text.reset();
  try {
    pk::seis::load_station_settings(settings, unit);
    ADD_FAILURE() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.message, "\nFile open error for PKU.INI");
  }
}
