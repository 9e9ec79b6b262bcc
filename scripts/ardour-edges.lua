-- ardour-edges.lua -- the Ardour side of scripts/check-ardour-edges.sh, run
-- by ardour7-lua (Ardour 7.3, "None (Dummy)" backend, real time).
--
--   ardour7-lua ardour-edges.lua bypass  key=value ...
--   ardour7-lua ardour-edges.lua persist key=value ...
--   ardour7-lua ardour-edges.lua reload  key=value ...
--   ardour7-lua ardour-edges.lua preset  key=value ...
--
-- Keys: dir name rate buffer ptype(lv2|vst3) pid signal(stereo WAV, bypass)
--       seconds (signal length) toggles (bypass switches) param value
--       before (persist: the control's value first, then changed to value)
--       set=NAME=VALUE (repeatable: settings before the bypass run, or the
--       user preset's) factory user (preset labels) params (NAME:STATEID,...)
--
-- bypass:  a tone track plays the signal through the plug-in into a second
--          track that records it, in real time; PluginInsert:enable() is
--          switched off and on from here while it plays, as a user clicking
--          the plug-in's bypass would.  The recording's largest sample-to-
--          sample step near a switch is compared with the largest step the
--          steady output makes elsewhere.
-- persist: a control is changed while no audio is processed, and the
--          session is saved at once.
-- reload:  a new process opens that session and reads the control and the
--          plug-in's own saved state.
-- preset:  a user preset is saved, then it and a factory preset are loaded
--          through Ardour's preset API (VST3: a .vstpreset file each).
--
-- Lines starting with "@@" are tab-separated records for the wrapper.

io.stdout:setvbuf ("line")

local MODE = arg[1]
local A, SETS = {}, {}
for i = 2, #arg do
	local k, v = arg[i]:match ("^([%w_]+)=(.*)$")
	assert (k, "bad argument: " .. arg[i])
	if k == "set" then SETS[#SETS + 1] = v else A[k] = v end
end

local NOGROUP = PBD.GroupControlDisposition.NoGroup
local PLUGIN_AUTOMATION = 7 -- ARDOUR::AutomationType

local function emit (...)
	local t = { ... }
	for i = 1, #t do
		t[i] = tostring (t[i]):gsub ("[\t\n]", " ")
		if t[i] == "" then t[i] = "-" end
	end
	print ("@@ " .. table.concat (t, "\t"))
end

local function fmt (v)
	if type (v) ~= "number" then return tostring (v) end
	return string.format ("%.6g", v)
end

local function readf (p)
	local f = io.open (p, "rb")
	if not f then return nil end
	local d = f:read ("a"); f:close (); return d
end

local function writef (p, d)
	local f = assert (io.open (p, "wb")); f:write (d); f:close ()
end

local function settle () ARDOUR.LuaAPI.wait_for_process_callback (8, 4000) end

-- Poll cond every 2 ms; give up after limit seconds.
local function wait_for (what, limit, cond)
	local t0 = ARDOUR.LuaAPI.monotonic_time ()
	while not cond () do
		assert (ARDOUR.LuaAPI.monotonic_time () - t0 < limit * 1e6, "timed out waiting for " .. what)
		ARDOUR.LuaAPI.usleep (2000)
	end
end

local function setup_engine ()
	local be = AudioEngine:set_backend ("None (Dummy)", "", "")
	assert (be and not be:isnil (), "cannot select the 'None (Dummy)' backend")
	if A.buffer then AudioEngine:set_buffer_size (tonumber (A.buffer)) end
end

local function ptype ()
	return (A.ptype == "vst3") and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
end

local function find_plugin_info ()
	for p in ARDOUR.LuaAPI.list_plugins ():iter () do
		if p.type == ptype () and (p.unique_id == A.pid or p.name == A.pid
			or (A.pid:sub (1, 1) == "/" and p.path:sub (1, #A.pid) == A.pid)) then
			return p
		end
	end
	error ("Ardour does not list the plug-in '" .. A.pid .. "'")
end

local function norm (s) return (s:lower ():gsub ("%s*%b()%s*$", ""):gsub ("[%s_%-]", "")) end

-- Ardour's control for the plug-in parameter called name (case, blanks, '_'
-- and '-' ignored), with its range.
local function control (pi, name)
	local p = pi:plugin (0)
	for i = 0, p:parameter_count () - 1 do
		if p:parameter_is_input (i) and p:parameter_is_control (i) and norm (p:parameter_label (i)) == norm (name) then
			local ac = pi:to_automatable ():automation_control (Evoral.Parameter (PLUGIN_AUTOMATION, 0, i), false)
			assert (not ac:isnil (), "no control for " .. name)
			return ac, i
		end
	end
	error ("the plug-in has no control '" .. name .. "'")
end

local function insert_plugin (route)
	local info = find_plugin_info ()
	local proc = ARDOUR.LuaAPI.new_plugin (Session, info.unique_id, ptype (), "")
	assert (not proc:isnil (), "Ardour could not instantiate the plug-in")
	assert (route:add_processor_by_index (proc, 0, nil, true) == 0, "add_processor_by_index failed")
	return proc, proc:to_insert ()
end

local function new_track (name, nin)
	local tl = Session:new_audio_track (nin, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	assert (tl:size () == 1, "could not create track " .. name)
	return tl:front ()
end

------------------------------------------------------------------------------
-- plug-in state in the saved session (VST3 <chunk>, LV2 state.ttl), decoded
-- to its <PARAM id value> entries

local B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
local function b64decode (s)
	s = s:gsub ("[^%w%+/=]", "")
	local out, bits, nbits = {}, 0, 0
	for c in s:gmatch (".") do
		if c == "=" then break end
		bits = ((bits << 6) | (B64:find (c, 1, true) - 1)) & 0xffffff
		nbits = nbits + 6
		if nbits >= 8 then
			nbits = nbits - 8
			out[#out + 1] = string.char ((bits >> nbits) & 0xff)
		end
	end
	return table.concat (out)
end

-- JUCE MemoryBlock::toBase64Encoding(): "<size>.<chars>", 6 bits per char, LSB first
local JB64 = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
local function juce_b64decode (s)
	local n, body = s:match ("^(%d+)%.(.*)$")
	if not n then return nil end
	n = tonumber (n)
	local bytes = {}
	for i = 1, n do bytes[i] = 0 end
	local bit = 0
	for c in body:gmatch (".") do
		local v = JB64:find (c, 1, true)
		if not v then return nil end
		v = v - 1
		for k = 0, 5 do
			if (v >> k) & 1 == 1 then
				local b = bit + k
				local byte = (b >> 3) + 1
				if byte <= n then bytes[byte] = bytes[byte] | (1 << (b & 7)) end
			end
		end
		bit = bit + 6
	end
	local out = {}
	for i = 1, n do out[i] = string.char (bytes[i]) end
	return table.concat (out)
end

local function params_of (text, into)
	for tag in text:gmatch ("<PARAM%s[^>]*>") do
		local id, v = tag:match ('id="([^"]*)"'), tag:match ('value="([^"]*)"')
		if id and tonumber (v) then into[id] = tonumber (v) end
	end
end

-- id -> value of the plug-in's own state for the processor proc_id in the
-- snapshot file sfile, and a short description of where it was found
local function saved_state (sfile, proc_id)
	local xml = readf (sfile)
	if not xml then return nil, "session file not readable" end
	local node = xml:match ('<Processor id="' .. proc_id .. '".-</Processor>')
	if not node then return nil, "processor node not found" end
	local t = {}
	local chunk = node:match ("<chunk>(.-)</chunk>")
	if chunk then
		params_of (b64decode (chunk), t)
		return t, "vst3 chunk"
	end
	local sdir = node:match ('<lv2 [^>]-state%-dir="([^"]+)"')
	if sdir then
		local ttl = readf (A.dir .. "/plugins/" .. proc_id .. "/" .. sdir .. "/state.ttl")
		if not ttl then return nil, "lv2 " .. sdir .. " has no state.ttl" end
		for _, val in ttl:gmatch ('<([^>]+)>%s*"([^"]*)"') do
			local bin = juce_b64decode (val)
			if bin then params_of (bin, t) end
		end
		params_of (ttl, t)
		return t, "lv2 " .. sdir .. "/state.ttl"
	end
	return nil, "no plug-in state in the session"
end

-- Ardour's own record of an LV2 control port's value in the plug-in's node
-- (<Port symbol value>), which it hands back to the port on load
local function port_node (sfile, proc_id, symbol)
	local node = (readf (sfile) or ""):match ('<Processor id="' .. proc_id .. '".-</Processor>')
	local lv2 = node and node:match ("<lv2%s.-</lv2>")
	if not lv2 then return nil end
	for tag in lv2:gmatch ("<Port%s[^>]*>") do
		if tag:match ('symbol="([^"]*)"') == symbol then return tonumber (tag:match ('value="([^"]*)"')) end
	end
end

------------------------------------------------------------------------------
-- the tone: Ardour's Lua API cannot import audio headless, so the region is
-- written into the saved session file (as Ardour writes an imported region)
-- and the session loaded again.

local function inject_region (playlist_id, nframes)
	local sfile = A.dir .. "/" .. A.name .. ".ardour"
	local xml = assert (readf (sfile))
	local SC = 282240000 // tonumber (A.rate) -- superclock ticks per sample
	local idc = tonumber (xml:match ('id%-counter="(%d+)"'))
	local function newid () idc = idc + 1; return tostring (idc) end
	local audiodir = A.dir .. "/interchange/" .. A.dir:gsub ("/+$", ""):match ("([^/]+)$") .. "/audiofiles/"
	local ids, srcs = {}, {}
	for _, f in ipairs ({ "tone-L.wav", "tone-R.wav" }) do
		writef (audiodir .. f, assert (readf (A.staging .. "/" .. f), "cannot read " .. f))
		ids[#ids + 1] = newid ()
		srcs[#srcs + 1] = string.format ('<Source name="%s" type="audio" flags="" id="%s" captured-for="" channel="0" origin="" gain="1"/>', f, ids[#ids])
	end
	local function region (rname, whole)
		local s = string.format ('<Region name="%s" muted="0" opaque="1" locked="0" video-locked="0" automatic="0" whole-file="%d" import="1" external="0" sync-marked="0" left-of-split="0" right-of-split="0" hidden="0" position-locked="0" valid-transients="0" start="a0" length="a%d@a0" position="a0" sync-position="a0" ancestral-start="a0" ancestral-length="a0@a0" stretch="1" shift="1" layering-index="0" tags="" contents="0" envelope-active="0" default-fade-in="0" default-fade-out="0" fade-in-active="0" fade-out-active="0" scale-amplitude="1" id="%s" type="audio" first-edit="nothing"',
			rname, whole, nframes * SC, newid ())
		for i, sid in ipairs (ids) do s = s .. string.format (' source-%d="%s" master-source-%d="%s"', i - 1, sid, i - 1, sid) end
		return s .. ' channels="2"/>'
	end
	local whole, placed = region ("tone", 1), region ("tone.1", 0)
	local n
	xml, n = xml:gsub ('(<Playlist id="' .. playlist_id .. '"[^>]-)/>', function (h) return h .. ">\n      " .. placed .. "\n    </Playlist>" end)
	assert (n == 1, "the tone track's playlist is not in the session file")
	xml, n = xml:gsub ("<Sources/>", "<Sources>\n    " .. table.concat (srcs, "\n    ") .. "\n  </Sources>", 1); assert (n == 1, "<Sources/> not found")
	xml, n = xml:gsub ("<Regions/>", "<Regions>\n    " .. whole .. "\n  </Regions>", 1); assert (n == 1, "<Regions/> not found")
	xml, n = xml:gsub ("<Locations/>", string.format ('<Locations>\n    <Location id="%s" name="session" start="a0" end="a%d" flags="IsSessionRange" locked="0" timestamp="0" cue="0"/>\n  </Locations>', newid (), nframes * SC), 1)
	assert (n == 1, "<Locations/> not found")
	xml = xml:gsub ('id%-counter="%d+"', 'id-counter="' .. (idc + 1) .. '"', 1)
	writef (sfile, xml)
end

local function load_audio (path)
	local chans = {}
	local mem = ARDOUR.DSP.DspShm (8192)
	for rd in ARDOUR.Readable.load (Session, path):iter () do
		local n, pos, data = rd:readable_length (), 0, {}
		while pos < n do
			local got = rd:read (mem:to_float (0), pos, 8192, 0)
			if got <= 0 then break end
			local d = mem:to_float (0):array ()
			for i = 1, got do data[pos + i] = d[i] end
			pos = pos + got
		end
		chans[#chans + 1] = data
	end
	return chans
end

------------------------------------------------------------------------------

local function apply_sets (pi)
	for _, s in ipairs (SETS) do
		local name, v = s:match ("^(.-)=([^=]*)$")
		local ac = control (pi, name)
		ac:set_value (tonumber (v), NOGROUP)
	end
	settle ()
	for _, s in ipairs (SETS) do
		local name, v = s:match ("^(.-)=([^=]*)$")
		emit ("set", name, v, fmt (control (pi, name):get_value ()))
	end
end

local function do_bypass ()
	setup_engine ()
	assert (create_session (A.dir, A.name, tonumber (A.rate)), "create_session failed")
	local nframes = math.floor (tonumber (A.seconds) * tonumber (A.rate))
	local tone = new_track ("tone", 2)
	new_track ("rec", 2)
	local plid = tone:playlist ():to_stateful ():id ():to_s ()
	Session:save_state ("", false, false, false, false, false)
	close_session ()
	inject_region (plid, nframes)
	assert (load_session (A.dir, A.name), "load_session after adding the tone failed")

	tone = Session:route_by_name ("tone"):to_track ()
	local rec = Session:route_by_name ("rec"):to_track ()
	emit ("region", tone:playlist ():n_regions ())
	local _, pi = insert_plugin (tone)
	apply_sets (pi)

	-- tone's outputs feed rec's inputs and nothing else does
	settle ()
	rec:input ():disconnect_all (nil)
	for i = 0, 1 do
		local out = tone:output ():nth (i)
		out:disconnect_all ()
		assert (out:connect (rec:input ():nth (i):name ()) == 0, "cannot connect tone -> rec")
	end
	rec:rec_enable_control ():set_value (1, NOGROUP)
	settle ()
	emit ("insert", "latency", pi:signal_latency (), "enabled", tostring (pi:enabled ()))

	Session:maybe_enable_record (false)
	Session:request_locate (0, false, ARDOUR.LocateTransportDisposition.MustStop, ARDOUR.TransportRequestSource.TRS_UI)
	settle ()
	Session:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
	local t0 = ARDOUR.LuaAPI.monotonic_time ()
	wait_for ("the transport to roll", 10, function () return Session:transport_rolling () end)

	-- switch at irregular times, so that the switches meet the tone and the
	-- chorus at different phases (Ardour applies each at the start of a cycle)
	local toggles = tonumber (A.toggles or 6)
	local rate = tonumber (A.rate)
	local span = (nframes / rate) - 1.2 -- keep 0.6 s clear at both ends
	local switches = {}
	for k = 1, toggles do
		local at = 0.6 + span * (k - 0.5) / toggles + 0.037 * (k % 3)
		wait_for ("the playhead", 2 * at + 10, function () return Session:transport_sample () >= at * rate end)
		local before = Session:transport_sample ()
		pi:enable (k % 2 == 0)
		local after = Session:transport_sample ()
		switches[#switches + 1] = { from = before, to = after, on = (k % 2 == 0) }
		emit ("switch", k, before, after, (k % 2 == 0) and "enable(true)" or "enable(false)")
	end
	local stop_at = nframes - math.floor (0.3 * rate)
	wait_for ("the playhead", 2 * stop_at / rate + 10, function () return Session:transport_sample () >= stop_at end)
	Session:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)
	wait_for ("the transport to stop", 10, function () return not Session:transport_rolling () end)
	Session:disable_record (false, false)
	settle ()
	emit ("time", "roll", string.format ("%.2f", (ARDOUR.LuaAPI.monotonic_time () - t0) / 1e6), "xruns", Session:get_xrun_count ())

	-- the recording
	local pl = rec:playlist ()
	assert (pl:n_regions () > 0, "nothing was recorded")
	local reg
	for r in pl:region_list ():iter () do reg = r:to_audioregion () end
	local files = {}
	for i = 0, reg:n_channels () - 1 do files[#files + 1] = reg:source (i):to_filesource ():path () end
	local rpos = reg:position ():samples ()
	emit ("recorded", table.concat (files, "|"), rpos, reg:length ():samples ())
	local chans = {}
	for _, f in ipairs (files) do for _, c in ipairs (load_audio (f)) do chans[#chans + 1] = c end end

	-- near a switch: from a cycle before the switch was asked for to the
	-- fade's end plus two cycles after; steady: all else, away from the ends
	local block = Session:get_block_size ()
	local fade = math.floor (0.010 * rate)
	local lat = pi:signal_latency ()
	local function near (pos)
		for _, s in ipairs (switches) do
			if pos >= s.from - block and pos <= s.to + 2 * block + fade + lat then return true end
		end
		return false
	end
	local lo, hi = math.floor (0.3 * rate), stop_at - math.floor (0.1 * rate)
	local steady, at_switch, where = 0, 0, 0
	for c = 1, #chans do
		local x = chans[c]
		for i = 2, #x do
			local pos = rpos + i - 1
			if pos >= lo and pos < hi then
				local d = math.abs (x[i] - x[i - 1])
				if near (pos) then
					if d > at_switch then at_switch, where = d, pos end
				elseif d > steady then
					steady = d
				end
			end
		end
	end
	emit ("steps", fmt (steady), fmt (at_switch), where, fmt (steady > 0 and at_switch / steady or 0))

	-- the switches took effect: between them, the recording equals the tone
	-- while bypassed and differs from it while the chorus is heard
	local dry = load_audio (A.staging .. "/tone-L.wav")[1]
	local bounds = { { from = lo, on = true } }
	for _, s in ipairs (switches) do
		bounds[#bounds].to = s.from - block
		bounds[#bounds + 1] = { from = s.to + 2 * block + fade + lat, on = s.on }
	end
	bounds[#bounds].to = hi
	local bypassed_diff, active_diff = 0, math.huge
	for _, b in ipairs (bounds) do
		local peak = 0
		for c = 1, #chans do
			for pos = b.from, b.to - 1 do
				local d = math.abs ((chans[c][pos - rpos + 1] or 0) - (dry[pos + 1 - lat] or 0))
				if d > peak then peak = d end
			end
		end
		if b.on then active_diff = math.min (active_diff, peak) else bypassed_diff = math.max (bypassed_diff, peak) end
	end
	local function db (x) return x > 0 and string.format ("%.1f", 20 * math.log (x, 10)) or "-inf" end
	emit ("spans", #bounds, db (bypassed_diff), db (active_diff))

	-- each switch on its own: its window's largest step, and for a switch
	-- off, where the output became the dry tone (the end of the fade)
	for k, sw in ipairs (switches) do
		local a, b = sw.from - block, sw.to + 2 * block + fade + lat
		local big, at, dry_from = 0, nil, nil
		for c = 1, #chans do
			local x = chans[c]
			for pos = a + 1, b do
				local i = pos - rpos + 1
				local d = math.abs ((x[i] or 0) - (x[i - 1] or 0))
				if d > big then big, at = d, pos end
			end
		end
		if not sw.on then
			for pos = b, a, -1 do
				local differs = false
				for c = 1, #chans do
					if math.abs ((chans[c][pos - rpos + 1] or 0) - (dry[pos + 1 - lat] or 0)) > 1e-6 then differs = true end
				end
				if differs then dry_from = pos + 1; break end
			end
		end
		emit ("switchstep", k, sw.on and "on" or "off", sw.from, fmt (big), at or "-", dry_from or "-")
	end
	Session:save_state ("", false, false, false, false, false)
end

-- Change a control with no process cycle between the change and the save.
local function do_persist ()
	setup_engine ()
	assert (create_session (A.dir, A.name, tonumber (A.rate)), "create_session failed")
	local tr = new_track ("chorus", 2)
	local proc, pi = insert_plugin (tr)
	local ac = control (pi, A.param)
	ac:set_value (tonumber (A.before), NOGROUP)
	settle () -- the plug-in runs with the first value
	emit ("before", A.param, fmt (ac:get_value ()))
	Session:save_state ("", false, false, false, false, false)

	-- no audio is processed from here on
	AudioEngine:stop (false)
	emit ("engine", "running", tostring (AudioEngine:running ()))
	ac:set_value (tonumber (A.value), NOGROUP)
	emit ("changed", A.param, fmt (ac:get_value ()))
	local rv = Session:save_state ("", false, false, false, false, false)
	emit ("save", rv)
	local pid = proc:to_stateful ():id ():to_s ()
	local st, where = saved_state (A.dir .. "/" .. A.name .. ".ardour", pid)
	emit ("saved-state", where, st and st[A.stateid] and fmt (st[A.stateid]) or "absent")
end

local function do_reload ()
	setup_engine ()
	assert (load_session (A.dir, A.name), "load_session failed")
	local r = Session:route_by_name ("chorus")
	local proc = r:nth_plugin (0)
	assert (not proc:isnil (), "the plug-in is missing after reload")
	local pi = proc:to_insert ()
	local pid = proc:to_stateful ():id ():to_s ()
	local ac = control (pi, A.param)
	emit ("reloaded", A.param, fmt (ac:get_value ()))
	local st, where = saved_state (A.dir .. "/" .. A.name .. ".ardour", pid)
	emit ("file-state", where, st and st[A.stateid] and fmt (st[A.stateid]) or "absent")
	emit ("file-port", port_node (A.dir .. "/" .. A.name .. ".ardour", pid, A.stateid) or "absent")
	-- let it play, then ask the reloaded plug-in for its state again
	settle ()
	Session:save_state ("played", false, false, false, false, false)
	st, where = saved_state (A.dir .. "/played.ardour", pid)
	emit ("played-state", where, st and st[A.stateid] and fmt (st[A.stateid]) or "absent")
	emit ("played", A.param, fmt (ac:get_value ()))
end

-- Load presets through Ardour's preset API, as choosing one in the plug-in
-- window does: a user preset saved from the SETS, then the factory preset
-- A.factory, then the user preset.  After each: what Ardour's controls
-- show at once and a moment later, and the plug-in's own state after it
-- has played.
local function do_preset ()
	setup_engine ()
	assert (create_session (A.dir, A.name, tonumber (A.rate)), "create_session failed")
	local tr = new_track ("chorus", 2)
	local proc, pi = insert_plugin (tr)
	local p = pi:plugin (0)
	local pid = proc:to_stateful ():id ():to_s ()
	apply_sets (pi)
	local saved = p:save_preset (A.user)
	emit ("saved-user", A.user, tostring (saved.valid), saved.uri)

	local names, ids = {}, {}
	for name, id in (A.params or ""):gmatch ("([^,:]+):([^,]+)") do names[#names + 1] = name; ids[#ids + 1] = id end
	local function show (which, when)
		for _, name in ipairs (names) do emit ("shown", which, when, name, fmt (control (pi, name):get_value ())) end
	end

	for _, which in ipairs ({ "factory", "user" }) do
		local label = which == "user" and A.user or A.factory
		local ps = p:preset_by_label (label)
		assert (ps and ps.valid, "Ardour does not list the preset '" .. label .. "'")
		local t0 = ARDOUR.LuaAPI.monotonic_time ()
		local ok = p:load_preset (ps)
		emit ("loaded", which, label, tostring (ok), fmt ((ARDOUR.LuaAPI.monotonic_time () - t0) / 1000))
		show (which, "at-once")
		ARDOUR.LuaAPI.usleep (500000)
		settle ()
		show (which, "later")
		Session:save_state (which, false, false, false, false, false)
		local st, where = saved_state (A.dir .. "/" .. which .. ".ardour", pid)
		for _, id in ipairs (ids) do emit ("played-state", which, id, st and st[id] and fmt (st[id]) or "absent") end
	end
end

local modes = { bypass = do_bypass, persist = do_persist, reload = do_reload, preset = do_preset }
local ok, err = pcall (modes[MODE] or function () error ("mode must be bypass, persist, reload or preset") end)
if not ok then
	emit ("FATAL", err)
	print ("[ardour-edges] FATAL: " .. tostring (err))
end
