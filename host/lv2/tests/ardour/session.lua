-- Drives Ardour headless on its dummy backend as a musician would, one Ardour process per step:
--   create FOLDER URI   a session in FOLDER/session with a MIDI track "synth" playing the plug-in
--                       URI, fed by the "Morvane test notes" processor; lists the plug-in and the
--                       controls Ardour offers for automation; automates env.Sustain; saves.
--   before FOLDER URI   reopens it, exports FOLDER/before.wav, switches the chorus off, saves.
--   after FOLDER URI    reopens it, says the chorus's value, exports FOLDER/after.wav.
-- Ardour 7.3 corrupts its heap now and then when it exports from a session created in the same
-- process (also with an empty session and no plug-in at all), so creating and exporting are
-- separate steps. Lines starting "mv:" are what the test reads.
local phase, dir, uri = arg[1], arg[2], arg[3]
local RATE = 48000
local SECONDS = 6.5

-- Tab-separated, since labels hold spaces (Ardour's print joins its arguments with spaces).
local function say (...)
	local fields = { "mv:" }
	for _, v in ipairs ({ ... }) do fields[#fields + 1] = tostring (v) end
	print (table.concat (fields, "\t"))
	io.stdout:flush ()
end

local function fail (text)
	say ("error", text)
	error (text)
end

-- The plug-in's first instance on the track, and the port index of each control by its name.
local function find_plugin (session)
	local track = session:route_by_name ("synth")
	if track:isnil () then fail ("no track 'synth'") end
	local i = 0
	while true do
		local proc = track:nth_plugin (i)
		if proc:isnil () then fail ("no plug-in " .. uri .. " on the track") end
		local insert = proc:to_insert ()
		if insert:plugin (0):unique_id () == uri then return track, insert end
		i = i + 1
	end
end

local function controls (insert)
	local plugin = insert:plugin (0)
	local ports = {}
	for p = 0, plugin:parameter_count () - 1 do
		if plugin:parameter_is_control (p) and plugin:parameter_is_input (p) then
			ports[plugin:parameter_label (p)] = p
		end
	end
	return ports
end

local function control (insert, port)
	local param = Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, port)
	return insert:to_automatable ():automation_control (param, false)
end

local function export (session, name)
	local e = session:simple_export ()
	e:set_folder (dir)
	e:set_name (name)
	e:set_range (0, math.floor (SECONDS * RATE))
	-- The test's preset: 32-bit float WAV at the session's rate, no dither, no analysis.
	if not e:set_preset ("6d0e7a52-3f7c-4b55-9a35-2f4c1d7e9a02") then fail ("no WAV export preset") end
	if not e:run_export () then fail ("export " .. name .. " failed") end
	say ("exported", name)
end

if not AudioEngine:set_backend ("None (Dummy)", "", "") then fail ("no dummy backend") end

local function reopen ()
	local session = load_session (dir .. "/session", "mv")
	if not session then fail ("cannot load the session") end
	local _, insert = find_plugin (session)
	local active = controls (insert)["chorus.Active"]
	if not active then fail ("no control chorus.Active") end
	return session, control (insert, active)
end

local function save (session)
	if session:save_state ("", false, false, false, false, false) ~= 0 then fail ("cannot save the session") end
	say ("saved")
end

if phase == "create" then
	local session = create_session (dir .. "/session", "mv", RATE)
	if not session then fail ("cannot create the session") end
	-- What Ardour's plug-in manager lists, as a person would look for it.
	for p in ARDOUR.LuaAPI.list_plugins ():iter () do
		if p.unique_id == uri then say ("found", ARDOUR.PluginType.name (p.type), p.name) end
	end
	local info = ARDOUR.LuaAPI.new_plugin_info (uri, ARDOUR.PluginType.LV2)
	if info:isnil () then fail ("Ardour does not find " .. uri) end
	local tracks = session:new_midi_track (ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1),
		ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2), true, info, nil, nil, 1, "synth",
		ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
	if tracks:size () ~= 1 then fail ("no MIDI track") end
	local notes = ARDOUR.LuaAPI.new_luaproc (session, "Morvane test notes")
	if notes:isnil () then fail ("no note processor") end
	tracks:front ():add_processor_by_index (notes, 0, nil, true)
	local _, insert = find_plugin (session)
	-- Every control as the track's automation lanes offer it.
	for label, port in pairs (controls (insert)) do
		local c = control (insert, port)
		if not c:isnil () then
			local d = c:desc ()
			say ("control", port, d.lower, d.upper, d.normal, d.toggled and "toggled" or (d.enumeration and "enum" or "-"), label)
		end
	end
	-- The sustain automated as a person draws it in its lane: 5 V for the first note, 1 V from
	-- 2 s on; the exports hear it.
	local sustain = control (insert, controls (insert)["env.Sustain"])
	local lane = sustain:alist ()
	for _, point in ipairs ({ { 0, 5 }, { 1.9, 5 }, { 2.0, 1 }, { SECONDS, 1 } }) do
		lane:add (Temporal.timepos_t (math.floor (point[1] * RATE)), point[2], false, true)
	end
	sustain:set_automation_state (ARDOUR.AutoState.Play)
	save (session)
elseif phase == "before" then
	local session, active = reopen ()
	export (session, "before")
	active:set_value (0, PBD.GroupControlDisposition.NoGroup)
	save (session)
elseif phase == "after" then
	local session, active = reopen ()
	say ("value", "chorus.Active", active:get_value ())
	export (session, "after")
else
	fail ("the step must be create, before or after")
end
close_session ()
say ("closed")
