// A test-only OBS module that registers a do-nothing "browser_source", so that real OBS on
// a system without a browser source (Debian's) can hold a Corvane graphics source. The
// real-OBS tests install it beside the plugin in their throw-away configuration only.
#include <obs-module.h>

namespace {

obs_module_t *g_module = nullptr;
int g_instance; // the sources keep no state; any non-null pointer marks one created

const char *standInName(void *) { return "Browser (test stand-in)"; }
void *standInCreate(obs_data_t *, obs_source_t *) { return &g_instance; }
void standInDestroy(void *) {}
uint32_t standInSize(void *) { return 0; }

} // namespace

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module) { g_module = module; }

MODULE_EXPORT obs_module_t *obs_current_module(void) { return g_module; }

MODULE_EXPORT uint32_t obs_module_ver(void) { return LIBOBS_API_VER; }

MODULE_EXPORT bool obs_module_load(void)
{
    obs_source_info info = {};
    info.id = "browser_source";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = standInName;
    info.create = standInCreate;
    info.destroy = standInDestroy;
    info.get_width = standInSize;
    info.get_height = standInSize;
    obs_register_source(&info);
    return true;
}

} // extern "C"
