#include "tests/host/font_fixture.h"

#include "host/ini.h"
#include "tests/support/font_startup.h"


namespace {

[[maybe_unused]] const bool gStarted = FontStartOutsideLeakCheck();

}  // namespace

FontChooserOps FakeChooser::Ops() {
  return {this,
          [](void* ctx, void* owner, char16_t* face, int32_t units, int32_t* tenths) {
            auto* self = static_cast<FakeChooser*>(ctx);
            int answer = self->calls < static_cast<int>(self->answers.size())
                             ? self->answers[static_cast<size_t>(self->calls)]
                             : 1;
            ++self->calls;
            self->lastOwner = owner;
            if (answer != 1) return answer;
            size_t n = 0;
            for (; n + 1 < static_cast<size_t>(units) && n < self->face.size(); ++n)
              face[n] = self->face[n];
            face[n] = u'\0';
            *tenths = self->tenths;
            return 1;
          },
          [](void* ctx, const char* path, const char* section, const char* key,
             const char* value) {
            auto* self = static_cast<FakeChooser*>(ctx);
            EXPECT_STREQ(section, "Fonts");
            self->writes.emplace_back(key, value);
            return !self->toFile || IniWriteString(path, section, key, value);
          }};
}

void FontFixture::SetUp() {
  ops_ = chooser.Ops();
  FontInstallChooser(&ops_);
}

void FontFixture::TearDown() {
  for (FontInstance* instance : instances_) FontRelease(instance);
  FontTerm();
  FontInstallChooser(nullptr);
}

FontSettings FontFixture::ShippedSettings() {
  FontSettings s;
  FontDefaultSettings(&s);
  return s;
}

void FontFixture::Init(const FontSettings& settings) { ASSERT_EQ(FontInit(&settings), kOk); }

FontInstance* FontFixture::Create(int32_t family, int32_t level, Result* result) {
  FontInstance* instance = nullptr;
  Result r = FontCreate(&instance, family, level);
  if (result) *result = r;
  if (instance) instances_.push_back(instance);
  return instance;
}

FontDescription FontFixture::Describe(const FontFace* face) {
  FontDescription d;
  FontDescribeFace(face, &d);
  return d;
}
