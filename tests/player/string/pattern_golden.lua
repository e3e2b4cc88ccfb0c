-- Writes golden/pattern_lua51.txt: what Debian's lua5.1 gives for every row of
-- golden/pattern_cases.txt, through string.gmatch (the iterator) and string.gsub (replacing).
-- Run from this folder: lua5.1 pattern_golden.lua
-- Line format, one per case: F <tab> matches <tab> R <tab> result. A match is its values
-- joined by spaces, matches are joined by " | "; a value is s:<bytes> or p:<position>; a
-- result is s:<bytes> n:<count>; a failure is E:<code>. Bytes outside ! to ~, and space,
-- '|' and '\', are written \xHH.



-- Escapes every byte that is not printable, and the separators themselves.
local function encode(s)
  local out = {}
  for i = 1, #s do
    local b = s:byte(i)
    if b < 33 or b > 126 or b == 124 or b == 92 then
      out[#out + 1] = string.format("\\x%02x", b)
    else
      out[#out + 1] = string.char(b)
    end
  end
  return table.concat(out)
end

-- The player's error code of a lua5.1 pattern error message.
local codes = {
  {"invalid capture index", 1461}, {"invalid pattern capture", 1462},
  {"ends with", 1463}, {"missing ']'", 1464}, {"unbalanced pattern", 1465},
  {"too many captures", 1466}, {"missing '['", 1467}, {"unfinished capture", 1468},
}
local function code_of(message)
  for _, c in ipairs(codes) do
    if string.find(message, c[1], 1, true) then return "E:" .. c[2] end
  end
  return "E:?" .. message
end

local function value(v)
  if type(v) == "number" then return "p:" .. v end
  return "s:" .. encode(v)
end

local function find_all(s, p)
  local matches = {}
  for a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, q, r, t, u, v, w, x, y, z,
      a2, b2, c2, d2, e2, f2, g2, h2 in string.gmatch(s, p) do
    local vals = {a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, q, r, t, u, v, w, x, y, z,
                  a2, b2, c2, d2, e2, f2, g2, h2}
    local parts = {}
    for idx = 1, 32 do
      if vals[idx] == nil then break end
      parts[#parts + 1] = value(vals[idx])
    end
    matches[#matches + 1] = table.concat(parts, " ")
  end
  return table.concat(matches, " | ")
end

local function raw_unescape(t)
  local out, i = {}, 1
  while i <= #t do
    local c = t:sub(i, i)
    if c == "\\" then
      local n = t:sub(i + 1, i + 1)
      if n == "x" then out[#out + 1] = string.char(tonumber(t:sub(i + 2, i + 3), 16)); i = i + 4
      elseif n == "t" then out[#out + 1] = "\t"; i = i + 2
      elseif n == "n" then out[#out + 1] = "\n"; i = i + 2
      else out[#out + 1] = n; i = i + 2 end
    else
      out[#out + 1] = c; i = i + 1
    end
  end
  return table.concat(out)
end

local function split_tabs(line)
  local fields, from = {}, 1
  while true do
    local at = string.find(line, "\t", from, true)
    if not at then fields[#fields + 1] = line:sub(from); return fields end
    fields[#fields + 1] = line:sub(from, at - 1)
    from = at + 1
  end
end

local out = assert(io.open("golden/pattern_lua51.txt", "w"))
out:write("# Made by pattern_golden.lua with " .. _VERSION .. " from golden/pattern_cases.txt\n")
for line in io.lines("golden/pattern_cases.txt") do
  if line:sub(1, 1) ~= "#" and line ~= "" then
    local f = split_tabs(line)
    local s, p, r = raw_unescape(f[1]), raw_unescape(f[2]), raw_unescape(f[3] or "")
    local max = f[4] and tonumber(f[4]) or nil
    local ok, found = pcall(find_all, s, p)
    local fpart = ok and found or code_of(found)
    local ok2, res, n = pcall(string.gsub, s, p, r, max)
    local rpart = ok2 and ("s:" .. encode(res) .. " n:" .. n) or code_of(res)
    out:write("F\t", fpart, "\tR\t", rpart, "\n")
  end
end
out:close()
