-- wrk script: spreads requests over every path listed in a file, each wrk
-- thread from its own starting point, with "Connection: Keep-Alive" (the
-- local server keeps a connection open only when asked to), or with
-- "Connection: close" when the second argument is "close": every request
-- on a new connection. At the end it prints one JSON line for the driver.
--   wrk -s spread.lua URL -- PATHS_FILE [close]

local requests = {}
local index = 0
local threads = {}

function setup(thread)
    thread:set("id", #threads)
    table.insert(threads, thread)
end

function init(args)
    local connection = args[2] == "close" and "close" or "Keep-Alive"
    for path in io.lines(args[1]) do
        table.insert(requests, wrk.format("GET", path, { ["Connection"] = connection }))
    end
    index = (id or 0) * 7919 % #requests
end

function request()
    index = index % #requests + 1
    return requests[index]
end

function done(summary, latency)
    local errors = summary.errors
    io.write(string.format(
        '{"requests": %d, "duration_us": %d, "bytes": %d, "p50_us": %d, "p99_us": %d, ' ..
        '"connect_errors": %d, "read_errors": %d, "write_errors": %d, "status_errors": %d, "timeouts": %d}\n',
        summary.requests, summary.duration, summary.bytes, latency:percentile(50), latency:percentile(99),
        errors.connect, errors.read, errors.write, errors.status, errors.timeout))
end
