/* A C host that knows the units only by the header's names: it loads the
 * built plug-in with dlopen beside the simulator, and every channel the
 * simulator reports must carry the constant its kind of signal names. A host
 * author who writes BV_UNIT_MILLIVOLTS where the plug-in hands out 9 relies
 * on exactly this. Exits 0 when every channel agrees, 1 naming each that does
 * not. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "kessra_plugin.h"

typedef PluginResult (*ConfigurationCall)(Configuration*);
typedef PluginResult (*PlainCall)(void);

static int failures = 0;

static void fail(const char* what, const char* detail) {
  fprintf(stderr, "FAIL: %s%s\n", what, detail != NULL ? detail : "");
  ++failures;
}

/* dlsym hands back an object pointer; copying its bytes is the way ISO C
 * allows to turn it into a function pointer. */
static int bindEntryPoint(void* library, const char* name, void* function, size_t size) {
  void* symbol = dlsym(library, name);
  if (symbol == NULL) {
    fail("missing entry point ", name);
    return 0;
  }
  memcpy(function, &symbol, size);
  return 1;
}

static int startsWith(const StringRef* text, const char* prefix) {
  const size_t length = strlen(prefix);
  return text->length >= length && memcmp(text->data, prefix, length) == 0;
}

/* The unit each kind of channel must carry, -1 for a channel this test does
 * not know, which is itself a failure: a new kind of channel needs its unit
 * named here. */
static int32_t expectedUnit(const StringRef* name) {
  if (name->length == 3 && startsWith(name, "EMG")) {
    return BV_UNIT_MILLIVOLTS;
  }
  if (startsWith(name, "ACC ")) {
    return BV_UNIT_G;
  }
  if (startsWith(name, "GYR ")) {
    return BV_UNIT_DEGREES_PER_SECOND;
  }
  return -1;
}

static void checkChannels(const Configuration* config) {
  unsigned long kinds[3] = {0, 0, 0};
  if (config->componentCount == 0) {
    fail("the simulator reported no sensors", NULL);
  }
  for (uint64_t c = 0; c < config->componentCount; ++c) {
    const ComponentDescription* component = &config->components[c];
    for (uint64_t k = 0; k < component->channelCount; ++k) {
      const ChannelDescription* channel = &component->channels[k];
      const int32_t expected = expectedUnit(&channel->name);
      if (expected >= 0) {
        kinds[expected == BV_UNIT_MILLIVOLTS ? 0 : expected == BV_UNIT_G ? 1 : 2] += 1;
      }
      if (expected >= 0 && expected == channel->unit) {
        continue;
      }
      fprintf(stderr, "FAIL: sensor %llu channel %.*s has unit %d; expected %d\n",
              (unsigned long long)(c + 1), (int)channel->name.length, channel->name.data,
              (int)channel->unit, (int)expected);
      ++failures;
    }
  }
  /* A sensor must show every kind, or a channel missing from the
   * configuration would pass unseen. */
  for (int kind = 0; kind < 3; ++kind) {
    if (kinds[kind] < config->componentCount) {
      fail("a sensor lacks an EMG, ACC or GYR channel", NULL);
      break;
    }
  }
}

int main(void) {
  void* library = dlopen(KESSRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fail("dlopen: ", dlerror());
    return 1;
  }
  ConfigurationCall connect = NULL;
  ConfigurationCall getConfiguration = NULL;
  ConfigurationCall freeConfiguration = NULL;
  PlainCall disconnect = NULL;
  if (bindEntryPoint(library, "bv_connect", &connect, sizeof connect) &&
      bindEntryPoint(library, "bv_get_configuration", &getConfiguration, sizeof getConfiguration) &&
      bindEntryPoint(library, "bv_free_configuration", &freeConfiguration,
                     sizeof freeConfiguration) &&
      bindEntryPoint(library, "bv_disconnect", &disconnect, sizeof disconnect)) {
    PluginResult result = connect(NULL);
    if (result.code != 0) {
      fail("bv_connect: ", result.message);
    } else {
      Configuration config = {NULL, 0, NULL, 0};
      result = getConfiguration(&config);
      if (result.code != 0) {
        fail("bv_get_configuration: ", result.message);
      } else {
        checkChannels(&config);
        freeConfiguration(&config);
      }
      disconnect();
    }
  }
  dlclose(library);
  return failures == 0 ? 0 : 1;
}
