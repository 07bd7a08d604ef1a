#include "kernel/modules.h"

namespace {
struct ModuleRow {
  uint32_t id;
  const char* name;
};

constexpr ModuleRow kModules[] = {
    {Mod::Cache, "Cache"},       {Mod::Tskman, "Tskman"},
    {Mod::Config, "Config"},     {Mod::Sms, "Sms"},
    {Mod::WtlFile, "WtlFile"},   {Mod::WtlDial, "WtlDial"},
    {Mod::WtlHttp, "WtlHTTP"},   {Mod::WtlWsp, "WtlWSP"},
    {Mod::WtlUtil, "WtlUtil"},   {Mod::WtlGif, "WtlGif"},
    {Mod::WtlVcard, "WtlVcard"}, {Mod::WtlVcal, "WtlVcal"},
    {Mod::Url, "Url"},           {Mod::Pgl, "Pgl"},
    {Mod::WtlWBmp, "WtlWBmp"},   {Mod::WtlJpeg, "WtlJpeg"},
    {Mod::Render, "Render"},     {Mod::TableRender, "TableRender"},
    {Mod::Ui, "UI/Shutdown"},    {Mod::Ubstore, "Ubstore"},
    {Mod::AnimEng, "AnimEng"},   {Mod::Wap, "Wap"},
    {Mod::Net, "Net"},           {Mod::Ben, "Ben"},
    {Mod::Libc, "Libc"},         {Mod::Lng, "Lng"},
    {Mod::WtlHtml, "WtlHtml"},   {Mod::WtlInfo, "WtlInfo"},
    {Mod::WtlWtai, "WTL_WTAI"},  {Mod::WmlsExec, "WMLSExec"},
    {Mod::WtlWmlsPrsr, "WtlWMLSPrsr"}, {Mod::QorRom, "QorRom"},
    {Mod::DDriver, "DDriver"},   {Mod::WtlWmlc, "WtlWmlc"},
    {Mod::WtlMail, "WtlMail"},   {Mod::WtlMailto, "WtlMailto"},
    {Mod::RenderPlugin, "RenderPlugin"}, {Mod::Ecapi, "ECAPI"},
    {Mod::Ssl, "SSL"},           {Mod::Wtls, "WTLS"},
    {Mod::Modem, "Modem"},       {Mod::Wbxml, "WBXML"},
    {Mod::SStore, "sStore"},     {Mod::Provisioning, "Provisioning"},
    {Mod::Stat, "Stat"},         {Mod::Authentication, "Authentication"},
    {Mod::Cookies, "Cookies"},   {Mod::I18n, "i18n"},
    {Mod::WtlRepository, "WtlRepository"}, {Mod::WtlReplib, "WtlReplib"},
    {Mod::PalScard, "PAL Scard"}, {Mod::WscScheme, "WSC Scheme"},
    {Mod::WtlNotify, "WtlNotify"}, {Mod::Notify, "Notify"},
    {Mod::VarParse, "VarParse"}, {Mod::DebugHeap, "DebugHeap"},
    {Mod::TestCode, "TestCode"}, {Mod::TestHarness, "TestHarness"},
    {Mod::Performance, "Performance"},
};
}  // namespace

const char* ModuleName(uint32_t id) {
  for (const ModuleRow& row : kModules)
    if (row.id == id) return row.name;
  return nullptr;
}
