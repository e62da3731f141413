ardour {
	["type"] = "dsp",
	name = "Morvane test notes",
	category = "Utility",
	license = "ISC",
	author = "Morvane modules",
	description = [[Plays three held notes at fixed session positions while the transport rolls, so that every export of the session hears the same notes at the same frames.]]
}

-- {note-on frame, note-off frame, key} at 48 kHz: C4, E4, G4 for a second each, two seconds apart.
local NOTES = { { 24000, 72000, 60 }, { 120000, 168000, 64 }, { 216000, 264000, 67 } }

function dsp_ioconfig ()
	return { { midi_in = 1, midi_out = 1, audio_in = 0, audio_out = 0 } }
end

function dsp_run (_, _, n_samples)
	if not Session:transport_rolling () then return end
	local first = Session:transport_sample ()
	local last = first + n_samples
	local n = 1
	-- Event times are 1-based offsets into the block.
	for _, note in ipairs (NOTES) do
		if note[1] >= first and note[1] < last then
			midiout[n] = { time = note[1] - first + 1, data = { 0x90, note[3], 100 } }
			n = n + 1
		end
		if note[2] >= first and note[2] < last then
			midiout[n] = { time = note[2] - first + 1, data = { 0x80, note[3], 0 } }
			n = n + 1
		end
	end
end
