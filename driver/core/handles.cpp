#include "core/handles.h"

#include <cstring>

#include "core/connection_defaults.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "core/wide_text.h"
#include "platform/driver_manager.h"
#include "platform/module.h"

namespace q4 {

SQLRETURN alloc_environment(Environment** out) {
  auto* env = static_cast<Environment*>(drv_alloc(nullptr, nullptr, sizeof(Environment)));
  if (env == nullptr) {
    *out = nullptr;
    return SQL_ERROR;
  }
  env->connections = nullptr;
  env->odbc_version = OdbcVersion::kOdbc2;
  // Every wide text of the process is in the Driver Manager's SQLWCHAR, and
  // nothing wide reaches the driver before an environment exists.
  set_wide_width(iodbc_in_process() ? WideWidth::kUtf32 : WideWidth::kUtf16);
  lock_init(&env->lock);
  *out = env;
  return SQL_SUCCESS;
}

SQLRETURN alloc_connection(Environment* env, Connection** out) {
  auto* conn = static_cast<Connection*>(drv_alloc(nullptr, nullptr, sizeof(Connection)));
  if (conn == nullptr) {
    *out = nullptr;
    return SQL_ERROR;
  }
  // Ready before it is linked: a commit of every connection may lock it.
  lock_init(&conn->call_lock);
  {
    LockGuard guard(&env->lock);
    conn->prev = nullptr;
    conn->next = env->connections;
    if (env->connections != nullptr) env->connections->prev = conn;
    env->connections = conn;
  }
  conn->module_instance = module_instance();
  conn->environment = env;
  set_attribute_defaults(conn);
  memcpy(conn->disable_ext_fetch, "No", 3);
  memcpy(conn->disable_array_pipeline, "No", 3);
  *out = conn;
  return SQL_SUCCESS;
}

SQLRETURN free_connection(Connection* conn) {
  Environment* env = conn->environment;
  {
    LockGuard guard(&env->lock);
    if (conn->prev != nullptr) {
      conn->prev->next = conn->next;
    } else {
      env->connections = conn->next;
    }
    if (conn->next != nullptr) conn->next->prev = conn->prev;
  }
  lock_destroy(&conn->call_lock);
  drv_free(conn);
  return SQL_SUCCESS;
}

SQLRETURN check_connection_free(Connection* conn) {
  if (conn->link != nullptr) return post_connection_error(conn, kDiagSequence);
  return SQL_SUCCESS;
}

SQLRETURN free_environment(Environment* env) {
  lock_enter(&env->lock);
  clear_records(env->sqlstate, env->message, &env->diag);
  if (env->connections != nullptr) {
    lock_leave(&env->lock);
    return post_environment_error(env, kDiagSequence);
  }
  lock_leave(&env->lock);
  lock_destroy(&env->lock);
  drv_free(env);
  return SQL_SUCCESS;
}

}  // namespace q4
