#include "server/scheduler.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "base/text_scan.h"
#include "server/console_api.h"
#include "sql/parameters.h"

namespace vantrelle::server {
namespace {

using nlohmann::json;

// A fire time met this late is still on time; later, it was missed (the
// server was down) and runs only when the schedule catches up.
constexpr int64_t kOnTimeSeconds = 60;
constexpr int kMaxRetries = 10;
constexpr int64_t kMaxRetryDelay = 7 * 86400;

const char* const kKeys[] = {"name",     "report",     "parameters", "calendar",
                             "time_zone", "owner",     "retries",    "retry_delay",
                             "catch_up", "enabled",    "deliveries",
                             // what the API shows, accepted back unchanged
                             "id",       "next",       "last_fire",  "retry_due"};

bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name.front() == ' ' || name.back() == ' ') return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 0x7f; });
}

std::optional<int64_t> WholeNumber(const json& value, int64_t low, int64_t high) {
  if (!value.is_number_integer()) return std::nullopt;
  const int64_t number = value.get<int64_t>();
  if (number < low || number > high) return std::nullopt;
  return number;
}

// One entry of "deliveries", checked; empty when it is sound.
std::string DeliveryProblem(const json& entry, size_t index) {
  const std::string where = "deliveries[" + std::to_string(index) + "]";
  if (!entry.is_object() || entry.contains("mail") == entry.contains("folder"))
    return where + ": each delivery is {\"mail\": [ADDRESS, ...]} or {\"folder\": PATH}, with "
                   "\"attach\"";
  for (const auto& [key, value] : entry.items())
    if (key != "mail" && key != "folder" && key != "attach")
      return where + ": a delivery has no key \"" + key + "\" (mail, folder, attach)";
  if (entry.contains("mail")) {
    const json& mail = entry["mail"];
    if (!mail.is_array() || mail.empty())
      return where + ".mail: a list of one or more mail addresses";
    for (const json& address : mail)
      if (!address.is_string() || !PlausibleAddress(address.get<std::string>()))
        return where + ".mail: " + address.dump() + " is no mail address";
  } else {
    const json& folder = entry["folder"];
    if (!folder.is_string() || folder.get<std::string>().empty() ||
        folder.get<std::string>().front() != '/')
      return where + ".folder: an absolute folder, such as /srv/share/sales/&Y";
    const std::string path = folder.get<std::string>();
    if (std::any_of(path.begin(), path.end(),
                    [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 0x7f; }))
      return where + ".folder: a folder name holds no control characters";
    std::string why;
    if (!ExpandRelativeDates(path, 0, TimeZone(), &why)) return where + ".folder: " + why;
    std::stringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
      if (part == "." || part == "..")
        return where + ".folder: a folder is named without \".\" or \"..\" parts";
  }
  if (entry.contains("attach")) {
    const json& attach = entry["attach"];
    if (!attach.is_array() || attach.empty()) return where + ".attach: [\"report\"], [\"pdf\"] or both";
    for (const json& kind : attach)
      if (kind != "report" && kind != "pdf")
        return where + ".attach: " + kind.dump() + " is neither \"report\" nor \"pdf\"";
  }
  return "";
}

}  // namespace

TimeZone ZoneOf(const json& definition) {
  // Zones as first read: the list of schedules and every round ask again.
  static std::mutex mutex;
  static std::map<std::string, TimeZone> zones;
  const json name = definition.value("time_zone", json(nullptr));
  const std::string key = name.is_string() ? name.get<std::string>() : "";
  std::lock_guard<std::mutex> lock(mutex);
  auto found = zones.find(key);
  if (found != zones.end()) return found->second;
  std::optional<TimeZone> zone = key.empty() ? TimeZone::System() : TimeZone::Load(key, nullptr);
  if (!zone) return TimeZone::System();  // a zone that went from the database since
  if (zones.size() > 1000) zones.clear();
  return zones.emplace(key, *zone).first->second;
}

std::string ExpandScheduleText(const std::string& text, int64_t at, const TimeZone& zone) {
  const CivilTime local = CivilFromSeconds(zone.Local(at));
  std::tm parts{};
  parts.tm_year = local.year - 1900;
  parts.tm_mon = local.month - 1;
  parts.tm_mday = local.day;
  parts.tm_hour = local.hour;
  parts.tm_min = local.minute;
  parts.tm_sec = local.second;
  const std::string dated = ExpandDateMacros(text, parts);
  return ExpandRelativeDates(dated, at, zone, nullptr).value_or(dated);
}

Scheduler::Scheduler(const ServerConfig& config, ConsoleStore& store, Catalogues& catalogues,
                     RunQueue& runs, Postman& postman, const ScheduleClock& clock)
    : config_(config),
      store_(store),
      catalogues_(catalogues),
      runs_(runs),
      postman_(postman),
      clock_(clock),
      thread_(clock) {}

Scheduler::~Scheduler() { Shutdown(); }

void Scheduler::Start() { thread_.Start([this] { return Round(); }); }

void Scheduler::Shutdown() { thread_.Stop(); }

void Scheduler::Wake() { thread_.Wake(); }

std::optional<json> Scheduler::Check(const json& body, const std::string& owner,
                                     std::string* problem) {
  auto fail = [&](const std::string& why) -> std::optional<json> {
    *problem = why;
    return std::nullopt;
  };
  if (!body.is_object())
    return fail("Send a schedule as a JSON object: {\"name\", \"report\", \"calendar\", ...}.");
  for (const auto& [key, value] : body.items())
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
      return fail("A schedule has no key \"" + key + "\"; the keys are name, report, parameters, "
                  "calendar, time_zone, owner, retries, retry_delay, catch_up, enabled and "
                  "deliveries.");
  json out = json::object();
  const json name = body.value("name", json(nullptr));
  if (!name.is_string() || !PlainName(name.get<std::string>()))
    return fail("name: give the schedule a name of 1 to 100 characters, without line breaks.");
  out["name"] = name;

  const json report_id = body.value("report", json(nullptr));
  std::optional<Report> report =
      report_id.is_string() ? catalogues_.Find(report_id.get<std::string>()) : std::nullopt;
  if (!report) return fail("report: there is no report " + report_id.dump() + ".");
  out["report"] = report->id;

  const json calendar_text = body.value("calendar", json(nullptr));
  std::string why;
  if (!calendar_text.is_string()) return fail("calendar: a cron expression such as \"0 6 1 * *\".");
  if (!CronCalendar::Parse(calendar_text.get<std::string>(), &why)) return fail("calendar: " + why + ".");
  out["calendar"] = calendar_text;

  const json zone_name = body.value("time_zone", json(nullptr));
  if (!zone_name.is_null() && !zone_name.is_string())
    return fail("time_zone: a zone name such as \"Europe/Paris\", or null for the server's zone.");
  if (zone_name.is_string() && !TimeZone::Load(zone_name.get<std::string>(), &why))
    return fail("time_zone: " + why + ".");
  out["time_zone"] = zone_name;
  const TimeZone zone = ZoneOf(out);

  const json parameters = body.value("parameters", json::object());
  if (!parameters.is_object()) return fail("parameters: an object of NAME: VALUE.");
  for (const auto& [parameter, value] : parameters.items()) {
    auto found = std::find_if(report->parameters.begin(), report->parameters.end(),
                              [&](const ParameterRecord& p) { return p.name == parameter; });
    if (found == report->parameters.end())
      return fail("parameters: the report " + report->id + " has no parameter " + parameter + ".");
    if (!value.is_string()) return fail("parameters." + parameter + ": the value must be a string.");
    std::optional<std::string> expanded =
        ExpandRelativeDates(value.get<std::string>(), clock_.NowSeconds(), zone, &why);
    if (!expanded) return fail("parameters." + parameter + ": " + why + ".");
    const std::string value_problem = ConsoleValueProblem(*found, *expanded);
    if (!value_problem.empty())
      return fail("parameters." + parameter + " (\"" + *expanded + "\" today): " + value_problem);
  }
  out["parameters"] = parameters;

  const json owner_name = body.value("owner", json(owner));
  if (!owner_name.is_string() || !store_.FindUser(owner_name.get<std::string>()))
    return fail("owner: there is no user " + owner_name.dump() + ".");
  out["owner"] = owner_name;

  std::optional<int64_t> retries = WholeNumber(body.value("retries", json(0)), 0, kMaxRetries);
  if (!retries) return fail("retries: a whole number from 0 to " + std::to_string(kMaxRetries) + ".");
  out["retries"] = *retries;
  std::optional<int64_t> delay = WholeNumber(body.value("retry_delay", json(600)), 0, kMaxRetryDelay);
  if (!delay) return fail("retry_delay: seconds, from 0 to " + std::to_string(kMaxRetryDelay) + ".");
  out["retry_delay"] = *delay;
  for (const char* flag : {"catch_up", "enabled"}) {
    const json value = body.value(flag, json(true));
    if (!value.is_boolean()) return fail(std::string(flag) + ": true or false.");
    out[flag] = value;
  }
  const json deliveries = body.value("deliveries", json::array());
  if (!deliveries.is_array()) return fail("deliveries: a list of {\"mail\": [...]} and {\"folder\": ...}.");
  for (size_t i = 0; i < deliveries.size(); ++i) {
    const std::string delivery_problem = DeliveryProblem(deliveries[i], i);
    if (!delivery_problem.empty()) return fail(delivery_problem + ".");
  }
  // An address given twice gets one mail.
  json unique = json::array();
  std::set<std::string> addresses;
  for (json delivery : deliveries) {
    if (delivery.contains("mail")) {
      json kept = json::array();
      for (const json& address : delivery["mail"])
        if (addresses.insert(LowerAscii(address.get<std::string>())).second) kept.push_back(address);
      if (kept.empty()) continue;
      delivery["mail"] = kept;
    }
    unique.push_back(delivery);
  }
  out["deliveries"] = unique;
  return out;
}

json Scheduler::Json(const ScheduleRecord& schedule) const {
  json out = schedule.definition;
  out["id"] = schedule.id;
  out["name"] = schedule.name;
  const TimeZone zone = ZoneOf(schedule.definition);
  json next = json::array();
  std::optional<CronCalendar> calendar =
      CronCalendar::Parse(schedule.definition.value("calendar", ""), nullptr);
  if (calendar && schedule.definition.value("enabled", true))
    for (int64_t time : calendar->NextTimes(clock_.NowSeconds(), zone, 5))
      next.push_back(Rfc3339In(time, zone));
  out["next"] = next;
  out["last_fire"] = schedule.last_fire > 0 ? json(Rfc3339In(schedule.last_fire, zone)) : json(nullptr);
  out["retry_due"] = schedule.retry_due ? json(Rfc3339In(*schedule.retry_due, zone)) : json(nullptr);
  return out;
}

int64_t Scheduler::Round() {
  const int64_t now = clock_.NowSeconds();
  int64_t next_look = INT64_MAX;
  for (const ScheduleRecord& schedule : store_.Schedules()) {
    const json& definition = schedule.definition;
    if (!definition.value("enabled", true)) continue;
    std::optional<CronCalendar> calendar =
        CronCalendar::Parse(definition.value("calendar", ""), nullptr);
    if (!calendar) continue;
    const TimeZone zone = ZoneOf(definition);
    std::optional<int64_t> due = calendar->Next(schedule.last_fire, zone);
    if (due && *due <= now) {
      // However many fire times went by, one run: for the last of them.
      const int64_t latest = calendar->LastBetween(schedule.last_fire, now, zone).value_or(*due);
      if (now - latest <= kOnTimeSeconds || definition.value("catch_up", true))
        Fire(schedule, latest, 1);
      else
        std::cerr << "vantrelle-server: schedule \"" << schedule.name << "\" missed "
                  << Rfc3339In(latest, zone) << " while the server was down; it does not catch up.\n";
      store_.SetLastFire(schedule.id, latest);
      due = calendar->Next(latest, zone);
    }
    if (due) next_look = std::min(next_look, *due);
    if (schedule.retry_due) {
      if (*schedule.retry_due <= now) {
        store_.SetRetry(schedule.id, std::nullopt, 0, 0);
        Fire(schedule, schedule.retry_fire, schedule.retry_attempt);
      } else {
        next_look = std::min(next_look, *schedule.retry_due);
      }
    }
  }
  return next_look == INT64_MAX ? INT64_MAX : next_look * 1000;
}

void Scheduler::Fire(const ScheduleRecord& schedule, int64_t fire_time, int attempt) {
  const json& definition = schedule.definition;
  const std::string who = "schedule " + schedule.name;
  const TimeZone zone = ZoneOf(definition);
  std::optional<Report> report = catalogues_.Find(definition.value("report", ""));
  // A fire that cannot start a run is a failed run all the same: in the
  // history, and told to the owner.
  auto refuse = [&](const std::string& why) {
    std::cerr << "vantrelle-server: " << who << " did not start a run: " << why << "\n";
    store_.Audit(who, "", "schedule refused", why);
    RunRecord run;
    run.report = definition.value("report", "");
    run.catalogue = report ? report->catalogue : run.report.substr(0, run.report.find('/'));
    run.parameters = definition.value("parameters", json::object());
    run.user = who;
    run.state = "queued";
    run.queued_at = vantrelle::server::NowMillis();
    run.schedule = schedule.id;
    run.attempt = attempt;
    run.fire_time = fire_time;
    run.id = store_.AddRun(run);
    store_.SetEnded(run.id, "failed", std::nullopt, std::nullopt, {});
    run.state = "failed";
    postman_.Notice(run, schedule, "the schedule could not start a run: " + why);
  };
  if (!report) return refuse("the report " + definition.value("report", "") + " is gone");
  const json parameters = definition.value("parameters", json::object());
  std::vector<std::string> values;
  for (const ParameterRecord& parameter : report->parameters) {
    std::string value = parameter.value;
    if (parameters.contains(parameter.name) && parameters[parameter.name].is_string()) {
      std::string why;
      std::optional<std::string> expanded =
          ExpandRelativeDates(parameters[parameter.name].get<std::string>(), fire_time, zone, &why);
      if (!expanded) return refuse(parameter.name + ": " + why);
      value = *expanded;
    }
    const std::string problem = ConsoleValueProblem(parameter, value);
    if (!problem.empty()) return refuse(problem);
    values.push_back(value);
  }
  const int64_t run = runs_.Enqueue(*report, values, who, RunOrigin{schedule.id, attempt, fire_time});
  store_.Audit(who, "", "run",
               report->id + " #" + std::to_string(run) +
                   (attempt > 1 ? " (attempt " + std::to_string(attempt) + ")" : ""));
}

void Scheduler::RunEnded(int64_t id, bool by_server) {
  std::optional<RunRecord> run = store_.Run(id);
  if (!run || !run->schedule) return;
  std::optional<ScheduleRecord> schedule = store_.Schedule(*run->schedule);
  if (!schedule) return;
  if (run->state == "succeeded") {
    postman_.Deliver(*run, *schedule);
    return;
  }
  if (run->state != "failed" && run->state != "interrupted" && !by_server)
    return;  // stopped by someone
  const int retries = schedule->definition.value("retries", 0);
  if (run->attempt <= retries) {
    store_.SetRetry(schedule->id, NowSeconds() + schedule->definition.value("retry_delay", 600),
                    run->attempt + 1, run->fire_time);
    Wake();
    return;
  }
  std::string what = "the run " + run->state;
  if (run->exit_status) what += " with exit status " + std::to_string(*run->exit_status);
  if (run->attempt > 1) what += ", the last of " + std::to_string(run->attempt) + " attempts";
  postman_.Notice(*run, *schedule, what);
}

}  // namespace vantrelle::server
