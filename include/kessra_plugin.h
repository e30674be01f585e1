/*
 * Public interface of the Orvane Kessra device plug-in (libkessra_plugin.so).
 *
 * Plain C11 that also compiles as C++. A host loads the library, looks up
 * the sixteen bv_* entry points by name and calls them one at a time; the
 * only call that may overlap another is bv_stop_streaming during a
 * bv_read_samples call on another thread.
 *
 * Every entry point returns a PluginResult by value. Code 0 with a null
 * message is success; code 1 carries one of the BV_MESSAGE_* texts below.
 */
#ifndef KESSRA_PLUGIN_H
#define KESSRA_PLUGIN_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define BV_NOEXCEPT noexcept
#define BV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define BV_NOEXCEPT
#define BV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(BV_BUILDING_PLUGIN)
#define BV_API __attribute__((visibility("default")))
#else
#define BV_API
#endif

/* The failure messages, exactly as the plug-in returns them. Compare with
 * strcmp; the plug-in owns the texts for as long as it is loaded. */
#define BV_MESSAGE_ALREADY_CONNECTED "Device already connected"
#define BV_MESSAGE_NOT_CONNECTED "Device not connected"
#define BV_MESSAGE_SCAN_WHILE_STREAMING "Can't scan while streaming!"
#define BV_MESSAGE_ALREADY_STREAMING "Can't start stream, streaming already started"
#define BV_MESSAGE_START_NOT_CONNECTED "Can't start stream, device not connected"
#define BV_MESSAGE_NOT_STREAMING "Can't stop stream, streaming not started"
#define BV_MESSAGE_INVALID_ARGUMENT "Invalid argument"
#define BV_MESSAGE_OUT_OF_MEMORY "Out of memory"
/* An exception other than an allocation failure reached the boundary, for
 * instance one thrown by a C++ host's sample callback. */
#define BV_MESSAGE_INTERNAL_ERROR "Internal error"

/* Result of every entry point. message is static text owned by the plug-in;
 * never free it. */
typedef struct PluginResult {
  int32_t code;
  const char* message;
} PluginResult;

/* A text and its length in bytes, not counting the NUL that always follows
 * it. Who owns the bytes is stated where each StringRef is handed out. */
typedef struct StringRef {
  const char* data;
  uint64_t length;
} StringRef;

/* Filled by bv_get_api_version; the host owns the record. */
typedef struct ApiVersion {
  int32_t major;
  int32_t minor;
} ApiVersion;

/* A list written by bv_get_contracts and bv_get_actions. The elements belong
 * to the plug-in and stay valid while it is loaded; items may be null when
 * count is 0. */
typedef struct ListRecord {
  const void* items;
  uint64_t count;
} ListRecord;

typedef enum PluginState {
  BV_STATE_DISCONNECTED = 0,
  BV_STATE_CONNECTED = 1,
  BV_STATE_STREAMING = 2
} PluginState;

/* ValueKind values the plug-in writes into SettingValue.kind. */
#define BV_VALUE_KIND_TEXT 0
#define BV_VALUE_KIND_BOOLEAN 3

/* A setting's value as text. text is owned by the Configuration it sits in. */
typedef struct SettingValue {
  int32_t kind;
  StringRef text;
} SettingValue;

/* One option or property. Every text is a separate allocation owned by the
 * Configuration it sits in, released only by bv_free_configuration. */
typedef struct Setting {
  StringRef name;
  bool readOnly;
  SettingValue value;
  SettingValue defaultValue;
  StringRef extraText;
} Setting;

/* A read-only fact about a component; same layout and ownership as Setting. */
typedef Setting Property;

/* Values of ChannelDescription.unit, the host's unit enumeration. Each comment
 * gives the device's unit text that yields the code, then the unit as a
 * recording writes it. The device's texts match only exactly, letter case
 * included; any other text, the empty one too, yields BV_UNIT_OTHER. No text
 * yields the three reserved codes, so this plug-in never reports them. */
typedef enum ChannelUnit {
  BV_UNIT_METERS = 0,              /* "METERS": m */
  BV_UNIT_RESERVED_1 = 1,          /* no text */
  BV_UNIT_DEGREES = 2,             /* "DEGS": deg, an angle */
  BV_UNIT_NEWTONS = 3,             /* "N": N */
  BV_UNIT_G = 4,                   /* "G": g, acceleration in standard gravity */
  BV_UNIT_MICROTESLA = 5,          /* "MICROTESLA": uT */
  BV_UNIT_METERS_PER_SECOND = 6,   /* "METERS_SECOND": m/s */
  BV_UNIT_NEWTON_METERS = 7,       /* "Nm": Nm, a torque */
  BV_UNIT_VOLTS = 8,               /* "VOLTS": V */
  BV_UNIT_MILLIVOLTS = 9,          /* "MILLIVOLTS": mV */
  BV_UNIT_RESERVED_10 = 10,        /* no text */
  BV_UNIT_BEATS_PER_MINUTE = 11,   /* "BPM": bpm */
  BV_UNIT_CELSIUS = 12,            /* "Celsius": degC */
  BV_UNIT_DEGREES_PER_SECOND = 13, /* "DEG_S": deg/s, an angular rate */
  BV_UNIT_WATTS = 14,              /* "WATTS": W */
  BV_UNIT_RESERVED_15 = 15,        /* no text */
  BV_UNIT_OTHER = 16               /* any other text: no unit a recording can name */
} ChannelUnit;

/* One channel of a component; name is owned by the enclosing Configuration.
 * unit holds a ChannelUnit value. */
typedef struct ChannelDescription {
  StringRef name;
  int32_t kind;
  int32_t unit;
  float rate;
} ChannelDescription;

/* One sensor. Its texts and arrays are owned by the enclosing Configuration. */
typedef struct ComponentDescription {
  int32_t kind;
  StringRef name;
  ChannelDescription* channels;
  uint64_t channelCount;
  Property* properties;
  uint64_t propertyCount;
} ComponentDescription;

/* Root of a configuration tree. bv_get_configuration allocates everything
 * reachable from it; the host may read and change it until it passes a record
 * naming it to bv_free_configuration, the only way to release it. The plug-in
 * releases only storage it allocated and has not yet released: a host's own
 * arrays or texts put into a record are never touched, and whatever no record
 * released goes when the library unloads. */
typedef struct Configuration {
  Setting* settings;
  uint64_t settingCount;
  ComponentDescription* components;
  uint64_t componentCount;
} Configuration;

/* Handler of an action. config is the host's and may be null; the handler
 * reads it during the call only. */
typedef PluginResult (*ActionHandler)(Configuration* config);

/* One entry of the action table: static data owned by the plug-in, valid while
 * it is loaded. reserved is always zero. */
typedef struct Action {
  StringRef name;
  ActionHandler handler;
  void* reserved;
} Action;

/* One channel's samples from one frame. The block and values belong to the
 * read call and are valid only until the callback returns; values is null
 * when count is 0. */
typedef struct SampleBlock {
  uint64_t firstIndex;
  int32_t kind;
  const float* values;
  uint64_t count;
} SampleBlock;

/* The host's sample sink, called on the thread of bv_read_samples before it
 * returns. The two names are the plug-in's own texts, valid only during the
 * call; the host must not change or free them. */
typedef void (*SampleCallback)(const char* componentName, const char* channelName,
                               const SampleBlock* block);

/* Identity queries: each writes through its pointer (null is refused with
 * BV_MESSAGE_INVALID_ARGUMENT). Texts are the plug-in's, valid while it is
 * loaded, and the same address on every call. Any state, any thread. */
BV_API PluginResult bv_get_api_version(ApiVersion* version) BV_NOEXCEPT;
BV_API PluginResult bv_get_integration_version(StringRef* version) BV_NOEXCEPT;
BV_API PluginResult bv_get_name(StringRef* name) BV_NOEXCEPT;
BV_API PluginResult bv_get_description(StringRef* description) BV_NOEXCEPT;
BV_API PluginResult bv_get_manufacturer_url(StringRef* url) BV_NOEXCEPT;
BV_API PluginResult bv_get_category(int32_t* category) BV_NOEXCEPT;
BV_API PluginResult bv_get_contracts(ListRecord* contracts) BV_NOEXCEPT;
/* Writes the table of Action records (one: "Scan"). */
BV_API PluginResult bv_get_actions(ListRecord* actions) BV_NOEXCEPT;
/* Writes a PluginState value. */
BV_API PluginResult bv_get_state(int32_t* state) BV_NOEXCEPT;

/* Opens the device and reads its sensors. config may be null; a record with
 * exactly three settings sets the trigger options. */
BV_API PluginResult bv_connect(Configuration* config) BV_NOEXCEPT;
/* Stops streaming if needed, closes the device and forgets the sensors. */
BV_API PluginResult bv_disconnect(void) BV_NOEXCEPT;

/* Fills config with a new tree, or, when it already holds three settings,
 * with the root fields of the tree last built or applied: that copy-back
 * shares the tree (possibly a record the host applied) with the record it came
 * from, so two records may then name one tree. Release with
 * bv_free_configuration. */
BV_API PluginResult bv_get_configuration(Configuration* config) BV_NOEXCEPT;
/* Releases the plug-in's storage in the tree the record names and leaves the
 * record null and 0. Freeing any record is safe: a null record, one freed
 * before, one sharing a tree released through another record, or one the host
 * built itself releases nothing that is not the plug-in's to release. */
BV_API PluginResult bv_free_configuration(Configuration* config) BV_NOEXCEPT;

/* Starts acquisition; blocks the caller for one second. */
BV_API PluginResult bv_start_streaming(void) BV_NOEXCEPT;
/* Stops acquisition; the next bv_read_samples delivers what remains. May be
 * called from another thread, or from the callback, during a read. */
BV_API PluginResult bv_stop_streaming(void) BV_NOEXCEPT;
/* Delivers one frame (every remaining frame after a stop), one callback per
 * channel in inventory order. Must not overlap connect, disconnect or Scan. */
BV_API PluginResult bv_read_samples(SampleCallback callback) BV_NOEXCEPT;

/* The record layouts are fixed for 64-bit Linux hosts. */
#if defined(__linux__) && defined(__LP64__)
BV_STATIC_ASSERT(sizeof(PluginResult) == 16 && offsetof(PluginResult, message) == 8,
                 "PluginResult layout");
BV_STATIC_ASSERT(sizeof(StringRef) == 16 && offsetof(StringRef, length) == 8, "StringRef layout");
BV_STATIC_ASSERT(sizeof(ApiVersion) == 8 && offsetof(ApiVersion, minor) == 4, "ApiVersion layout");
BV_STATIC_ASSERT(sizeof(ListRecord) == 16 && offsetof(ListRecord, count) == 8, "ListRecord layout");
BV_STATIC_ASSERT(sizeof(SettingValue) == 24 && offsetof(SettingValue, text) == 8,
                 "SettingValue layout");
BV_STATIC_ASSERT(sizeof(Setting) == 88 && offsetof(Setting, readOnly) == 16 &&
                     offsetof(Setting, value) == 24 && offsetof(Setting, defaultValue) == 48 &&
                     offsetof(Setting, extraText) == 72,
                 "Setting layout");
BV_STATIC_ASSERT(sizeof(ChannelDescription) == 32 && offsetof(ChannelDescription, kind) == 16 &&
                     offsetof(ChannelDescription, unit) == 20 &&
                     offsetof(ChannelDescription, rate) == 24,
                 "ChannelDescription layout");
BV_STATIC_ASSERT(sizeof(ComponentDescription) == 56 && offsetof(ComponentDescription, name) == 8 &&
                     offsetof(ComponentDescription, channels) == 24 &&
                     offsetof(ComponentDescription, channelCount) == 32 &&
                     offsetof(ComponentDescription, properties) == 40 &&
                     offsetof(ComponentDescription, propertyCount) == 48,
                 "ComponentDescription layout");
BV_STATIC_ASSERT(sizeof(Configuration) == 32 && offsetof(Configuration, settingCount) == 8 &&
                     offsetof(Configuration, components) == 16 &&
                     offsetof(Configuration, componentCount) == 24,
                 "Configuration layout");
BV_STATIC_ASSERT(sizeof(Action) == 32 && offsetof(Action, handler) == 16 &&
                     offsetof(Action, reserved) == 24,
                 "Action layout");
BV_STATIC_ASSERT(sizeof(SampleBlock) == 32 && offsetof(SampleBlock, kind) == 8 &&
                     offsetof(SampleBlock, values) == 16 && offsetof(SampleBlock, count) == 24,
                 "SampleBlock layout");
BV_STATIC_ASSERT(sizeof(PluginState) == 4, "PluginState is 32-bit");
BV_STATIC_ASSERT(sizeof(ChannelUnit) == 4, "ChannelUnit is 32-bit");
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESSRA_PLUGIN_H */
