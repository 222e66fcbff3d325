// Live scores for overlay pages served by the Corvane plugin: connects to this server's
// /live WebSocket, which sends the whole scoreboard as JSON on connect and after every
// change, and reconnects whenever the plugin or its server goes away.
(function () {
  'use strict';
  var params = new URLSearchParams(location.search);

  // Query options become CSS custom properties (?home=#c00&away=#00c&font=Inter&size=48).
  // setProperty takes the text as a value only, so a query cannot add rules of its own.
  var styleOptions = {home: '--home', away: '--away', color: '--text', bg: '--panel', font: '--font', size: '--size'};
  Object.keys(styleOptions).forEach(function (name) {
    var value = params.get(name);
    if (value === null || value === '') return;
    if (name === 'size' && /^[0-9.]+$/.test(value)) value += 'px';
    if (name === 'font') value = '"' + value.replace(/["\\]/g, '') + '", sans-serif';
    document.documentElement.style.setProperty(styleOptions[name], value);
  });

  // The period under whatever name the sport gives it: the plugin's one list of period
  // fields (period-fields.json), filled in when the plugin is built.
  var periodNames = @PERIOD_FIELDS@;

  function period(fields) {
    for (var i = 0; i < periodNames.length; i++) {
      var value = fields[periodNames[i][0]];
      if (value !== undefined && value !== '') {
        if (periodNames[i][0] === 'inning' && fields.inning_half)
          return (fields.inning_half === 'top' ? '\u25B2' : '\u25BC') + value;
        return periodNames[i][1] + value;
      }
    }
    return '';
  }

  function teamName(side, fields) {
    return params.get(side + '_name') || fields[side + '_name'] || side.toUpperCase();
  }

  // Text only: field values come from the scoreboard and are never read as markup.
  function setText(id, value) {
    var element = document.getElementById(id);
    if (element && element.textContent !== String(value)) element.textContent = String(value);
  }

  // The texts every built-in overlay shows: team names, scores, period and clock, into the
  // elements with those ids that the page has.
  function showScore(fields) {
    setText('home-name', teamName('home', fields));
    setText('away-name', teamName('away', fields));
    setText('home-score', fields.home_score !== undefined ? fields.home_score : '-');
    setText('away-score', fields.away_score !== undefined ? fields.away_score : '-');
    setText('period', period(fields));
    setText('clock', fields.clock || '');
  }

  // The page's own device (?device=ID, a device followed beside the main one) is the one
  // its feed reads; without it, the main device.
  var device = params.get('device');
  var feedQuery = device ? '?device=' + encodeURIComponent(device) : '';

  function connect(onSnapshot) {
    var delay = 500;
    function open() {
      var socket = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/live' + feedQuery);
      socket.onopen = function () {
        delay = 500;
        document.documentElement.dataset.live = 'on';
      };
      socket.onmessage = function (event) {
        var snapshot;
        try {
          snapshot = JSON.parse(event.data);
        } catch (error) {
          return;
        }
        onSnapshot(snapshot, snapshot.fields || {});
      };
      socket.onclose = function () {
        document.documentElement.dataset.live = 'off';
        setTimeout(open, delay);
        delay = Math.min(delay * 2, 5000);
      };
    }
    open();
  }

  window.CorvaneOverlay = {
    params: params, connect: connect, period: period, periodNames: periodNames, teamName: teamName, setText: setText, showScore: showScore
  };
})();
