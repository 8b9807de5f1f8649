#!/usr/bin/ruby
# Turns one day's XMLTV (standard input) into an HTML guide grid (standard output):
# one row per channel, time running left to right. The page uses xmltv2html.css and
# popup.js beside it; settings come from xmltv2htmlrc in the working folder.
#
# Every hour h of the day carries an anchor named (h + 2) mod 24, so anchor n marks the
# hour (n + 22) mod 24; the grid browser's hour buttons jump to those.

require 'rexml/document'
require 'cgi'

SETTINGS = {
  'slot_minutes' => 30,  # minutes per grid column; a divisor of 60
  'slot_width' => 80,    # pixels per column
  'channel_width' => 110,
  'clock' => 12,         # 12 or 24
  'title' => 'Guide'
}.freeze

def read_settings(path)
  settings = SETTINGS.dup
  return settings unless File.readable?(path)

  File.foreach(path) do |line|
    line = line.strip
    next if line.empty? || line.start_with?('#')

    key, value = line.split('=', 2).map(&:strip)
    next unless value && settings.key?(key)

    settings[key] = SETTINGS[key].is_a?(Integer) ? value.to_i : value
  end
  settings['slot_minutes'] = 30 unless [5, 10, 15, 20, 30, 60].include?(settings['slot_minutes'])
  settings['slot_width'] = 80 unless settings['slot_width'].positive?
  settings['channel_width'] = 110 unless settings['channel_width'].positive?
  settings
end

# "20261205183000 +1000" → wall-clock time as written, in minutes since 1970-01-01 of
# that wall clock (the offset is not applied: the guide is shown as broadcast).
def wall_minutes(stamp)
  m = /\A(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})/.match(stamp.to_s.strip)
  return nil unless m

  t = Time.utc(m[1].to_i, m[2].to_i, m[3].to_i, m[4].to_i, m[5].to_i)
  t.to_i / 60
rescue ArgumentError
  nil
end

def text_of(element, name)
  node = element.elements[name]
  node ? node.texts.map(&:value).join.strip : ''
end

def h(text)
  CGI.escapeHTML(text.to_s)
end

def clock(minutes, style)
  hour = (minutes / 60) % 24
  minute = minutes % 60
  return format('%02d:%02d', hour, minute) if style == 24

  suffix = hour < 12 ? 'am' : 'pm'
  shown = hour % 12
  shown = 12 if shown.zero?
  minute.zero? ? "#{shown}#{suffix}" : format('%d:%02d%s', shown, minute, suffix)
end

def hour_anchor(hour)
  (hour + 2) % 24
end

settings = read_settings('xmltv2htmlrc')
input = $stdin.read
doc = begin
  REXML::Document.new(input)
rescue REXML::ParseException => e
  warn "xmltv2html: #{e.message.lines.first}"
  exit 1
end
tv = doc.root
unless tv && tv.name == 'tv'
  warn 'xmltv2html: no tv element'
  exit 1
end

channels = []
names = {}
tv.each_element('channel') do |c|
  id = c.attributes['id'].to_s
  next if names.key?(id)

  channels << id
  shown = text_of(c, 'display-name')
  names[id] = shown.empty? ? id : shown
end

programmes = Hash.new { |hash, key| hash[key] = [] }
tv.each_element('programme') do |p|
  start = wall_minutes(p.attributes['start'])
  next unless start

  stop = wall_minutes(p.attributes['stop'])
  stop = start + settings['slot_minutes'] if stop.nil? || stop <= start
  id = p.attributes['channel'].to_s
  unless names.key?(id)
    channels << id
    names[id] = id
  end
  rating = p.elements['rating/value'] ? text_of(p, 'rating/value') : text_of(p, 'rating')
  programmes[id] << {
    start: start, stop: stop, title: text_of(p, 'title'), sub_title: text_of(p, 'sub-title'),
    desc: text_of(p, 'desc'), category: text_of(p, 'category'), rating: rating
  }
end

starts = programmes.values.flatten.map { |p| p[:start] }
day_start = starts.empty? ? (Time.now.utc.to_i / 60) / 1440 * 1440 : starts.min / 1440 * 1440
day = Time.at(day_start * 60).utc
latest = programmes.values.flatten.map { |p| p[:stop] }.max || (day_start + 1440)
# The whole day, and past midnight as far as the last programme runs (at most six hours).
end_minute = [[latest, day_start + 1440].max, day_start + 1440 + 360].min
slot = settings['slot_minutes']
slots = ((end_minute - day_start) + slot - 1) / slot
slots_per_hour = 60 / slot

out = []
out << '<!DOCTYPE html>'
out << '<html lang="en"><head><meta charset="utf-8">'
out << "<title>#{h(settings['title'])} #{day.strftime('%A %-d %B %Y')}</title>"
out << '<link rel="stylesheet" type="text/css" href="xmltv2html.css">'
out << '<script type="text/javascript" src="popup.js"></script>'
out << "<style>table.grid col.slot { width: #{settings['slot_width']}px; } " \
       "table.grid col.chan { width: #{settings['channel_width']}px; }</style>"
out << '</head><body>'
out << "<h1>#{h(day.strftime('%A %-d %B %Y'))}</h1>"
out << "<table class=\"grid\" style=\"width: #{settings['channel_width'] + slots * settings['slot_width']}px\">"
out << '<colgroup><col class="chan">' + ('<col class="slot">' * slots) + '</colgroup>'

header = ['<tr><th class="corner">Channel</th>']
slot_index = 0
while slot_index < slots
  minute = day_start + slot_index * slot
  span = [slots_per_hour, slots - slot_index].min
  hour_of_day = ((minute - day_start) / 60)
  anchor = hour_of_day < 24 ? "<a id=\"#{hour_anchor(hour_of_day)}\" name=\"#{hour_anchor(hour_of_day)}\"></a>" : ''
  header << "<th class=\"hour\" colspan=\"#{span}\">#{anchor}#{h(clock(minute - day_start, settings['clock']))}</th>"
  slot_index += span
end
header << '</tr>'
out << header.join

channels.each do |id|
  row = ["<tr><td class=\"channel\">#{h(names[id])}</td>"]
  cursor = 0
  programmes[id].sort_by { |p| p[:start] }.each do |p|
    first = [(p[:start] - day_start) / slot, cursor].max
    last = [((p[:stop] - day_start) + slot - 1) / slot, slots].min
    next if last <= first

    row << "<td class=\"empty\" colspan=\"#{first - cursor}\"></td>" if first > cursor
    details = [p[:desc], p[:category].empty? ? nil : "[#{p[:category]}]",
               p[:rating].empty? ? nil : "Rated #{p[:rating]}"].compact.reject(&:empty?)
    times = "#{clock(p[:start] - day_start, settings['clock'])} - #{clock(p[:stop] - day_start, settings['clock'])}"
    cell = +"<td class=\"programme\" colspan=\"#{last - first}\""
    cell << " data-desc=\"#{h(details.join(' '))}\"" unless details.empty?
    cell << "><span class=\"title\">#{h(p[:title])}</span>"
    cell << "<br><span class=\"subtitle\">#{h(p[:sub_title])}</span>" unless p[:sub_title].empty?
    cell << "<br><span class=\"time\">#{h(times)}</span>"
    cell << " <span class=\"rating\">#{h(p[:rating])}</span>" unless p[:rating].empty?
    cell << '</td>'
    row << cell
    cursor = last
  end
  row << "<td class=\"empty\" colspan=\"#{slots - cursor}\"></td>" if cursor < slots
  row << '</tr>'
  out << row.join
end

out << '</table>'
out << '</body></html>'
$stdout.write(out.join("\n") + "\n")
