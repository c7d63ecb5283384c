/* The Node-API addon of the npm package velquorn-cpuinfo: a host of the module
 * that calls its six exports and adds nothing to them. Written in C so that
 * it needs the C library alone (glibc 2.17 on Linux, msvcrt on Windows).
 *
 * The module rewrites one report buffer, and Node loads this file once per
 * process however many worker threads require it, so one process-wide lock
 * serialises every report: the synchronous ones on a JavaScript thread and
 * the asynchronous ones on libuv's pool. Each report is copied before the
 * lock is released. The addon keeps no per-thread state, so it registers as
 * context-aware (NAPI_MODULE_INIT) and loads in worker threads. */
#define NAPI_VERSION 8
#include <node_api.h>
#include <stdlib.h>
#include <string.h>

#include "velquorn/cpuinfo.h"

#if defined(_WIN32)
#include <windows.h>
static SRWLOCK g_report_lock = SRWLOCK_INIT;
static void lock_reports(void) { AcquireSRWLockExclusive(&g_report_lock); }
static void unlock_reports(void) { ReleaseSRWLockExclusive(&g_report_lock); }
#else
#include <pthread.h>
static pthread_mutex_t g_report_lock = PTHREAD_MUTEX_INITIALIZER;
static void lock_reports(void) { pthread_mutex_lock(&g_report_lock); }
static void unlock_reports(void) { pthread_mutex_unlock(&g_report_lock); }
#endif

/* Longer than every feature name: a longer text is unknown without asking. */
enum { kMaxName = 64 };

/* A Node-API call that failed leaves a pending exception, or gets one here;
 * the function then returns NULL (undefined) and JavaScript sees the throw. */
#define CHECK(env, call)     \
  do {                       \
    if ((call) != napi_ok) { \
      throw_last_error(env); \
      return NULL;           \
    }                        \
  } while (0)

static void throw_last_error(napi_env env) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return;
  const napi_extended_error_info* info = NULL;
  napi_get_last_error_info(env, &info);
  const char* text = info && info->error_message ? info->error_message : "Node-API call failed";
  napi_throw_error(env, NULL, text);
}

static napi_value make_text(napi_env env, const char* text) {
  napi_value value;
  CHECK(env, napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &value));
  return value;
}

static napi_value make_int(napi_env env, int number) {
  napi_value value;
  CHECK(env, napi_create_int32(env, number, &value));
  return value;
}

static napi_value version(napi_env env, napi_callback_info info) {
  (void)info;
  return make_text(env, cpuinfo_version());
}

static napi_value last_error(napi_env env, napi_callback_info info) {
  (void)info;
  return make_text(env, cpuinfo_last_error());
}

static napi_value logical_cores(napi_env env, napi_callback_info info) {
  (void)info;
  return make_int(env, cpuinfo_logical_cores());
}

/* hasFeature(text): the module's answer, 1, 0 or -1. The JavaScript side has
 * checked that it is a string without NUL characters; a text too long for
 * any name is -1 rather than a cut-off prefix. */
static napi_value has_feature(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value argv[1];
  CHECK(env, napi_get_cb_info(env, info, &argc, argv, NULL, NULL));
  char name[kMaxName + 1];
  size_t length = 0;
  if (argc < 1) {
    napi_throw_type_error(env, NULL, "hasFeature needs a feature name");
    return NULL;
  }
  CHECK(env, napi_get_value_string_utf8(env, argv[0], NULL, 0, &length));
  if (length > kMaxName) return make_int(env, -1);
  CHECK(env, napi_get_value_string_utf8(env, argv[0], name, sizeof name, &length));
  return make_int(env, cpuinfo_has_feature(name));
}

static napi_value current_mhz_sync(napi_env env, napi_callback_info info) {
  (void)info;
  return make_int(env, cpuinfo_current_mhz());
}

static napi_value report_json_sync(napi_env env, napi_callback_info info) {
  (void)info;
  napi_value value;
  lock_reports();
  const napi_status status =
      napi_create_string_utf8(env, cpuinfo_get_json(), NAPI_AUTO_LENGTH, &value);
  unlock_reports();
  CHECK(env, status);
  return value;
}

/* An asynchronous call: the module runs on libuv's pool, the Promise settles
 * on the JavaScript thread that made the call. */
typedef struct {
  napi_async_work work;
  napi_deferred deferred;
  int want_report; /* 1: the report's text, 0: the clock */
  int mhz;
  char* json; /* a copy of the report, or NULL when there was no memory */
} Call;

static void run_call(napi_env env, void* data) {
  (void)env;
  Call* call = data;
  if (!call->want_report) {
    call->mhz = cpuinfo_current_mhz();
    return;
  }
  lock_reports();
  const char* text = cpuinfo_get_json();
  const size_t size = strlen(text) + 1;
  call->json = malloc(size);
  if (call->json != NULL) memcpy(call->json, text, size);
  unlock_reports();
}

static void settle_call(napi_env env, napi_status status, void* data) {
  Call* call = data;
  napi_value value = NULL;
  napi_value message;
  bool ok = false;
  if (status == napi_ok && !call->want_report) {
    ok = napi_create_int32(env, call->mhz, &value) == napi_ok;
  } else if (status == napi_ok && call->json != NULL) {
    ok = napi_create_string_utf8(env, call->json, NAPI_AUTO_LENGTH, &value) == napi_ok;
  }
  if (ok) {
    napi_resolve_deferred(env, call->deferred, value);
  } else {
    const char* text = status != napi_ok ? "the asynchronous call did not run"
                                         : "no memory for a copy of the report";
    if (napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &message) == napi_ok &&
        napi_create_error(env, NULL, message, &value) == napi_ok) {
      napi_reject_deferred(env, call->deferred, value);
    }
  }
  napi_delete_async_work(env, call->work);
  free(call->json);
  free(call);
}

static napi_value start_call(napi_env env, int want_report, const char* name) {
  Call* call = calloc(1, sizeof *call);
  if (call == NULL) {
    napi_throw_error(env, NULL, "no memory for an asynchronous call");
    return NULL;
  }
  call->want_report = want_report;
  napi_value promise;
  napi_value resource_name;
  if (napi_create_promise(env, &call->deferred, &promise) != napi_ok ||
      napi_create_string_utf8(env, name, NAPI_AUTO_LENGTH, &resource_name) != napi_ok ||
      napi_create_async_work(env, NULL, resource_name, run_call, settle_call, call, &call->work) !=
          napi_ok) {
    free(call);
    throw_last_error(env);
    return NULL;
  }
  if (napi_queue_async_work(env, call->work) != napi_ok) {
    napi_delete_async_work(env, call->work);
    free(call);
    throw_last_error(env);
    return NULL;
  }
  return promise;
}

static napi_value report_json(napi_env env, napi_callback_info info) {
  (void)info;
  return start_call(env, 1, "velquorn-cpuinfo:reportJson");
}

static napi_value current_mhz(napi_env env, napi_callback_info info) {
  (void)info;
  return start_call(env, 0, "velquorn-cpuinfo:currentMhz");
}

NAPI_MODULE_INIT(/* napi_env env, napi_value exports */) {
  const napi_property_descriptor functions[] = {
      {"version", NULL, version, NULL, NULL, NULL, napi_enumerable, NULL},
      {"lastError", NULL, last_error, NULL, NULL, NULL, napi_enumerable, NULL},
      {"logicalCores", NULL, logical_cores, NULL, NULL, NULL, napi_enumerable, NULL},
      {"hasFeature", NULL, has_feature, NULL, NULL, NULL, napi_enumerable, NULL},
      {"currentMhzSync", NULL, current_mhz_sync, NULL, NULL, NULL, napi_enumerable, NULL},
      {"reportJsonSync", NULL, report_json_sync, NULL, NULL, NULL, napi_enumerable, NULL},
      {"currentMhz", NULL, current_mhz, NULL, NULL, NULL, napi_enumerable, NULL},
      {"reportJson", NULL, report_json, NULL, NULL, NULL, napi_enumerable, NULL},
  };
  CHECK(env,
        napi_define_properties(env, exports, sizeof functions / sizeof functions[0], functions));
  return exports;
}
