// Shows a programme's description beside the pointer when the user points at or clicks a
// programme of the grid page, kept inside the window.
(function () {
  var box = null;
  function show(cell, x, y) {
    var text = cell.getAttribute('data-desc');
    if (!text) return;
    if (!box) {
      box = document.createElement('div');
      box.className = 'popup';
      document.body.appendChild(box);
    }
    box.textContent = text;
    box.style.display = 'block';
    var right = window.pageXOffset + document.documentElement.clientWidth - 8;
    var bottom = window.pageYOffset + document.documentElement.clientHeight - 8;
    var left = x + 12, top = y + 12;
    if (left + box.offsetWidth > right)
        left = Math.max(window.pageXOffset + 8, x - 12 - box.offsetWidth);
    if (top + box.offsetHeight > bottom)
        top = Math.max(window.pageYOffset + 8, y - 12 - box.offsetHeight);
    box.style.left = left + 'px';
    box.style.top = top + 'px';
  }
  function hide() { if (box) box.style.display = 'none'; }
  document.addEventListener('mouseover', function (e) {
    var cell = e.target.closest ? e.target.closest('[data-desc]') : null;
    if (cell) show(cell, e.pageX, e.pageY); else hide();
  });
  document.addEventListener('click', function (e) {
    var cell = e.target.closest ? e.target.closest('[data-desc]') : null;
    if (cell) show(cell, e.pageX, e.pageY); else hide();
  });
})();
