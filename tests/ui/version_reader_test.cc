#include "ui/version_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "counting_module.h"

namespace portwick {
namespace {

VersionResource TwoTables(std::vector<VersionTranslation> translations) {
  VersionResource r;
  r.translations = std::move(translations);
  r.strings = {{"\\StringFileInfo\\000004b0\\ProductVersion", "neutral"},
               {"\\StringFileInfo\\040904b0\\ProductVersion", "english"},
               {"\\StringFileInfo\\040704e4\\ProductVersion", "german"}};
  return r;
}

TEST(ReadVersionStringTest, ChoosesTableFromTranslationList) {
  struct Case {
    const char* name;
    std::vector<VersionTranslation> translations;
    const char* expected;
  };
  const Case cases[] = {
      {"one pair 0409/04B0", {{0x0409, 0x04B0}}, "english"},
      {"one pair 0407/04E4", {{0x0407, 0x04E4}}, "german"},
      {"two pairs use neutral", {{0x0409, 0x04B0}, {0x0407, 0x04E4}}, "neutral"},
      {"no list uses neutral", {}, "neutral"},
  };
  for (const Case& c : cases) {
    VersionResource resource = TwoTables(c.translations);
    CountingModule module(&resource);
    std::string buffer;
    EXPECT_EQ(ReadVersionString(&buffer, module, "ProductVersion"), c.expected) << c.name;
  }
}

TEST(ReadVersionStringTest, LeavesBufferAloneWhenValueMissing) {
  VersionResource missing_table;  // two pairs but no neutral table
  missing_table.translations = {{0x0000, 0x04B0}, {0x0409, 0x04B0}};
  missing_table.strings = {{"\\StringFileInfo\\040904b0\\ProductVersion", "1, 0"}};
  VersionResource wrong_key = TwoTables({{0x0409, 0x04B0}});
  CountingModule no_table(&missing_table), no_key(&wrong_key), no_block(nullptr);

  for (const ResourceModule* module : {static_cast<const ResourceModule*>(&no_table),
                                       static_cast<const ResourceModule*>(&no_block)}) {
    std::string buffer = "untouched";
    EXPECT_EQ(ReadVersionString(&buffer, *module, "ProductVersion"), "untouched");
  }
  std::string buffer = "untouched";
  EXPECT_EQ(ReadVersionString(&buffer, no_key, "FileVersion"), "untouched");
}

TEST(ReadVersionStringTest, CutsOverlongValueToBufferSize) {
  VersionResource resource;
  resource.strings = {{"\\StringFileInfo\\000004B0\\ProductVersion", std::string(3000, '9')}};
  CountingModule module(&resource);
  std::string buffer;
  EXPECT_EQ(ReadVersionString(&buffer, module, "ProductVersion").size(), kVersionBufferSize - 1);
}

TEST(ReadVersionStringTest, ProgramBlockCarriesProjectVersion) {
  const ResourceModule& program = ProgramModule();
  std::string buffer;
  EXPECT_EQ(ReadVersionString(&buffer, program, "ProductVersion"), "1, 7, 0, 0");
  EXPECT_EQ(ReadVersionString(&buffer, program, "FileVersion"), "1, 7, 0, 156");
  EXPECT_EQ(ReadVersionString(&buffer, program, "InternalName"), "portwick");
  EXPECT_EQ(ReadVersionString(&buffer, program, "FileDescription"), "Portwick");

  // The English table differs from the neutral one only in its names.
  const VersionResource& block = ProgramVersionResource();
  std::string english, neutral;
  ASSERT_TRUE(block.QueryString("\\StringFileInfo\\040904B0\\InternalName", &english));
  EXPECT_EQ(english, "Portwick");
  for (const char* key : {"ProductVersion", "FileVersion", "CompanyName", "OriginalFilename"}) {
    ASSERT_TRUE(block.QueryString(std::string("\\StringFileInfo\\040904B0\\") + key, &english));
    ASSERT_TRUE(block.QueryString(std::string("\\StringFileInfo\\000004B0\\") + key, &neutral));
    EXPECT_EQ(english, neutral) << key;
  }
  EXPECT_EQ(block.product_version, (std::array<uint16_t, 4>{1, 7, 0, 0}));
  EXPECT_EQ(block.file_version, (std::array<uint16_t, 4>{1, 7, 0, 156}));
}

TEST(ProductVersionCacheTest, NormalisesSpacesAndCommas) {
  const std::pair<const char*, const char*> cases[] = {
      {"1, 7, 0, 0", "1.7.0.0"},
      {"2,0 ,1", "2.0.1"},
      {" 3 . 1,beta ", "3.1.beta"},
  };
  for (const auto& [raw, expected] : cases) {
    VersionResource resource;
    resource.strings = {{"\\StringFileInfo\\000004b0\\ProductVersion", raw}};
    CountingModule module(&resource);
    ProductVersionCache cache;
    EXPECT_EQ(cache.Get(module), expected) << raw;
  }
}

TEST(ProductVersionCacheTest, ReadsOnceWhenFoundAndAgainWhenEmpty) {
  VersionResource resource;
  resource.strings = {{"\\StringFileInfo\\000004b0\\ProductVersion", "1, 2"}};
  CountingModule module(&resource);
  ProductVersionCache cache;
  EXPECT_EQ(cache.Get(module), "1.2");
  EXPECT_EQ(cache.Get(module), "1.2");
  EXPECT_EQ(module.reads(), 1);

  VersionResource empty;
  CountingModule empty_module(&empty);
  ProductVersionCache empty_cache;
  EXPECT_EQ(empty_cache.Get(empty_module), "");
  EXPECT_EQ(empty_cache.Get(empty_module), "");
  EXPECT_EQ(empty_module.reads(), 2);
  // Once the value appears it is read and then kept.
  empty.strings = resource.strings;
  EXPECT_EQ(empty_cache.Get(empty_module), "1.2");
  EXPECT_EQ(empty_cache.Get(empty_module), "1.2");
  EXPECT_EQ(empty_module.reads(), 3);
}

}  // namespace
}  // namespace portwick
