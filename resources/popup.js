// Shows a programme's description beside the pointer when the user points at
// or clicks a programme cell of the grid page.
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
    box.style.left = (x + 12) + 'px';
    box.style.top = (y + 12) + 'px';
    box.style.display = 'block';
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
